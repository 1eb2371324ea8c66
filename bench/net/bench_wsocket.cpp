// 256 MiB from one TCustomWSocket to another on loopback, both driven by the one
// message loop of this thread. The sender refills on OnDataSent, so at most one chunk
// waits in its send chain.

#include "BenchCommon.h"
#include "net/CustomWSocket.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

void PumpOnce() {
    MSG msg;
    bool any = false;
    while (PeekMessage(msg, nullptr, 0, 0, PM_REMOVE)) {
        any = true;
        DispatchMessage(msg);
    }
    if (!any) WaitMessageTimeout(100);
}

void BM_WSocketTransfer(benchmark::State& state) {
    for (auto _ : state) {
        const double cpu0 = vt::bench::ProcessCpuSeconds();
        TCustomWSocket listener(nullptr), sender(nullptr);
        std::unique_ptr<TCustomWSocket> receiver;
        std::vector<char> in(vt::bench::ChunkBytes);
        std::size_t got = 0;
        bool closed = false;
        listener.SetAddr("127.0.0.1");
        listener.SetPort("0");
        listener.OnSessionAvailable = [&](TObject*, WORD) {
            receiver = std::make_unique<TCustomWSocket>(nullptr);
            receiver->OnDataAvailable = [&](TObject*, WORD) {
                const int n = receiver->Receive(in.data(), static_cast<int>(in.size()));
                if (n > 0) got += static_cast<std::size_t>(n);
            };
            receiver->OnSessionClosed = [&](TObject*, WORD) { closed = true; };
            receiver->Dup(listener.Accept());
        };
        listener.Listen();

        const std::vector<char> out(vt::bench::ChunkBytes, 'x');
        std::size_t left = vt::bench::TransferBytes;
        sender.OnDataSent = [&](TObject*, WORD) {
            if (left == 0) {
                sender.CloseLater();
                return;
            }
            const int n = static_cast<int>(std::min(left, out.size()));
            left -= static_cast<std::size_t>(n);
            sender.Send(out.data(), n);
        };
        sender.SetAddr("127.0.0.1");
        sender.SetPort(listener.GetBoundPort());
        sender.Connect();
        while (!closed)
            PumpOnce();
        if (got != vt::bench::TransferBytes) state.SkipWithError("short transfer");
        state.counters["cpu_s"] = vt::bench::ProcessCpuSeconds() - cpu0;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * vt::bench::TransferBytes));
}

BENCHMARK(BM_WSocketTransfer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
