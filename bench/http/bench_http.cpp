// Downloads one document with THttpCli::Get into a file and reports the throughput and
// the CPU time the process spent per 100 MB (user plus system, from getrusage).
//
//   bench_http URL OUTFILE [PROXY:PORT]
//
// The last line is for scripts: "bytes=N seconds=S cpu=C".

#include "http/HttpCli.h"
#include "platform/runtime/Streams.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <sys/resource.h>

namespace {

constexpr double MB = 1e6;
constexpr double CpuUnitBytes = 100 * MB;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s URL OUTFILE [PROXY:PORT]\n", argv[0]);
        return 2;
    }
    try {
        THttpCli cli(nullptr);
        TFileStream out(argv[2], fmCreate);
        cli.SetURL(argv[1]);
        if (argc == 4) cli.SetProxy(argv[3]);
        cli.SetRcvdStream(&out);

        const double cpuBefore = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        cli.Get();
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
        const double cpu = CpuSeconds() - cpuBefore;

        const double bytes = static_cast<double>(cli.ReceivedBytes());
        if (bytes <= 0) {
            std::fprintf(stderr, "nothing was received (status %d %s)\n", cli.StatusCode(),
                         cli.ReasonPhrase().c_str());
            return 1;
        }
        std::printf("received     %.0f bytes (status %d)\n", bytes, cli.StatusCode());
        std::printf("throughput   %.1f MB/s\n", bytes / MB / wall.count());
        std::printf("cpu          %.3f s per 100 MB\n", cpu * CpuUnitBytes / bytes);
        std::printf("bytes=%.0f seconds=%.6f cpu=%.6f\n", bytes, wall.count(), cpu);
        return 0;
    } catch (const EHttpException& e) {
        std::fprintf(stderr, "HTTP error %u: %s\n", e.ErrorCode(), e.Message().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
    }
    return 1;
}
