// The animated control's path in bench_gif: decoding with TFrame alone and the control's
// whole load (Mpixel/s, beside TGIFImage and giflib on the same files), and frames
// composed per second while a transparent 50-frame 320 x 240 animation plays.

#include "bench_gifcontrol.h"

#include "gifcontrol/GIFImageControl.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// What TFrame asks of the control: depth 8, no progress, no pixel budget.
struct TBenchOwner : TFrameOwner {
    int ColorDepth() const override { return 8; }
    bool HasProgressHandler() const override { return false; }
    void DoProgress(std::int64_t) override {}
    bool ClaimPixels(std::int64_t) override { return true; }
};

// Reads every image of File with TFrame, passing the other blocks as the control does;
// returns the frames' pixels.
std::int64_t DecodeFrames(const Bytes& File) {
    TBenchOwner owner;
    TReadPointer p(File.data(), File.size());
    TColorTableBytes colors{};
    if (File.size() < 13) return 0;
    p.Skip(10);
    const int flags = p.Peek();
    p.Skip(3);
    if (flags & 0x80) p.Take(colors.data(), std::size_t{3} << ((flags & 7) + 1));
    TExtensionRecord ext{};
    std::int64_t pixels = 0;
    while (!p.AtEnd()) {
        const int block = p.Peek();
        if (block == 0x2C) {
            TFrame frame(&owner);
            if (!frame.Read(p, &colors, ext)) break;
            pixels += std::int64_t{frame.Width()} * frame.Height();
            ext = {};
        } else if (block == 0x21 && p.Peek(1) == 0xF9) {
            p.Skip(2);
            p.Take(ext.data(), ext.size());
        } else if (block == 0x21) {
            p.Skip(2);
            p.SkipSubBlocks();
        } else {
            break;
        }
    }
    return pixels;
}

bool LoadControl(const Bytes& File) {
    TMemoryStream stream;
    stream.WriteBuffer(File.data(), static_cast<std::int32_t>(File.size()));
    TGIFImageControl control(nullptr);
    return control.LoadFromStream(&stream);
}

void BenchFrames(benchmark::State& State, Bytes File, std::int64_t Pixels) {
    for (auto _ : State)
        benchmark::DoNotOptimize(DecodeFrames(File));
    State.counters["Mpixel/s"] =
        benchmark::Counter(double(Pixels) * State.iterations() / 1e6, benchmark::Counter::kIsRate);
}

void BenchControlLoad(benchmark::State& State, Bytes File, std::int64_t Pixels) {
    for (auto _ : State)
        benchmark::DoNotOptimize(LoadControl(File));
    State.counters["Mpixel/s"] =
        benchmark::Counter(double(Pixels) * State.iterations() / 1e6, benchmark::Counter::kIsRate);
}

// One timer tick per iteration: dispose of the previous frame, compose the next.
void BenchCompose(benchmark::State& State, Bytes File) {
    TMemoryStream stream;
    stream.WriteBuffer(File.data(), static_cast<std::int32_t>(File.size()));
    TGIFImageControl control(nullptr);
    control.SetThreaded(false);
    if (!control.LoadFromStream(&stream)) {
        State.SkipWithError("the animation does not load");
        return;
    }
    control.SetLoop(true);
    control.SetAnimate(true);
    control.TimerTick(nullptr); // the first tick only starts the clock
    for (auto _ : State)
        control.TimerTick(nullptr);
    State.counters["frames/s"] =
        benchmark::Counter(double(State.iterations()), benchmark::Counter::kIsRate);
}

Bytes ReadAll(const std::filesystem::path& Path) {
    std::ifstream in(Path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

} // namespace

void MakeControlBenchFiles(const std::string& Folder) {
    const std::string command =
        std::string("/usr/bin/python3 ") + GIFCONTROL_BENCH_SCRIPT + " " + Folder;
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "the transparent animation could not be made\n");
}

void RegisterControlBenchmarks(const std::string& Name, const std::vector<unsigned char>& File,
                               std::int64_t Pixels) {
    if (DecodeFrames(File) != Pixels || !LoadControl(File)) {
        std::fprintf(stderr, "control skipped %s: its frames differ from giflib's\n", Name.c_str());
        return;
    }
    benchmark::RegisterBenchmark(("frame/" + Name).c_str(), BenchFrames, File, Pixels);
    benchmark::RegisterBenchmark(("control/" + Name).c_str(), BenchControlLoad, File, Pixels);
}

void RegisterCompositionBenchmark(const std::string& Folder) {
    const auto path = std::filesystem::path(Folder) / "anim_transparent_50x320x240.gif";
    if (!std::filesystem::exists(path)) return;
    benchmark::RegisterBenchmark("compose/anim_transparent_50x320x240.gif", BenchCompose,
                                 ReadAll(path));
}
