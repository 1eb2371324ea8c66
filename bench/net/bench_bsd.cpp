// The reference: 256 MiB over plain blocking BSD sockets, sender and receiver threads.

#include "BenchCommon.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void BM_BsdBlockingTransfer(benchmark::State& state) {
    for (auto _ : state) {
        const double cpu0 = vt::bench::ProcessCpuSeconds();
        const int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (lfd < 0 || ::bind(lfd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
            ::listen(lfd, 1) != 0 ||
            ::getsockname(lfd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            state.SkipWithError("cannot listen");
            return;
        }
        std::thread sender([addr] {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
                ::close(fd);
                return;
            }
            std::vector<char> buf(vt::bench::ChunkBytes, 'x');
            for (std::size_t left = vt::bench::TransferBytes; left > 0;) {
                const ssize_t n = ::send(fd, buf.data(), std::min(left, buf.size()), 0);
                if (n <= 0) break;
                left -= static_cast<std::size_t>(n);
            }
            ::close(fd);
        });
        const int cfd = ::accept(lfd, nullptr, nullptr);
        std::vector<char> buf(vt::bench::ChunkBytes);
        std::size_t got = 0;
        for (ssize_t n; (n = ::recv(cfd, buf.data(), buf.size(), 0)) > 0;)
            got += static_cast<std::size_t>(n);
        sender.join();
        ::close(cfd);
        ::close(lfd);
        if (got != vt::bench::TransferBytes) state.SkipWithError("short transfer");
        state.counters["cpu_s"] = vt::bench::ProcessCpuSeconds() - cpu0;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * vt::bench::TransferBytes));
}

BENCHMARK(BM_BsdBlockingTransfer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
