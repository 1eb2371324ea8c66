// Decoding speed in megapixels per second: TGIFImage (parse and decode every frame into
// its bitmap) next to giflib's DGifSlurp on the same bytes, file by file.

#include "bench_gifcontrol.h"
#include "gif/GIFImage.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"

#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

struct Reader {
    const Bytes* Data;
    std::size_t At = 0;
};

int ReadFromMemory(GifFileType* Gif, GifByteType* Buffer, int Count) {
    auto* r = static_cast<Reader*>(Gif->UserData);
    const std::size_t n = std::min<std::size_t>(Count, r->Data->size() - r->At);
    std::memcpy(Buffer, r->Data->data() + r->At, n);
    r->At += n;
    return static_cast<int>(n);
}

// Pixels of all frames (sum of the image sizes), as giflib finds them.
std::int64_t SlurpWithGiflib(const Bytes& File) {
    Reader reader{&File};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, ReadFromMemory, &error);
    if (!gif) return -1;
    std::int64_t pixels = -1;
    if (DGifSlurp(gif) == GIF_OK) {
        pixels = 0;
        for (int i = 0; i < gif->ImageCount; ++i)
            pixels += std::int64_t(gif->SavedImages[i].ImageDesc.Width) *
                      gif->SavedImages[i].ImageDesc.Height;
    }
    DGifCloseFile(gif, &error);
    return pixels;
}

// The file as the picture view hands it over: a stream that already holds its bytes
// (giflib, too, reads them from memory).
struct TFileInMemory {
    explicit TFileInMemory(const Bytes& File) {
        Stream.WriteBuffer(File.data(), static_cast<std::int32_t>(File.size()));
    }
    TMemoryStream Stream;
};

void LoadWithTGIFImage(TMemoryStream& Stream) {
    Stream.SetPosition(0);
    TGIFImage image;
    image.LoadFromStream(&Stream);
    benchmark::DoNotOptimize(image.FrameCount());
}

void BenchOurs(benchmark::State& State, Bytes File, std::int64_t Pixels) {
    TFileInMemory file(File);
    for (auto _ : State)
        LoadWithTGIFImage(file.Stream);
    State.counters["Mpixel/s"] =
        benchmark::Counter(double(Pixels) * State.iterations() / 1e6, benchmark::Counter::kIsRate);
}

void BenchGiflib(benchmark::State& State, Bytes File, std::int64_t Pixels) {
    for (auto _ : State)
        benchmark::DoNotOptimize(SlurpWithGiflib(File));
    State.counters["Mpixel/s"] =
        benchmark::Counter(double(Pixels) * State.iterations() / 1e6, benchmark::Counter::kIsRate);
}

// The file with each plain text extension relabelled as an unknown extension, which
// readers skip: the same decoding work without drawing the text (giflib draws none).
// Empty when the file has no such extension.
Bytes WithoutPlainText(Bytes File) {
    constexpr std::uint8_t UnknownLabel = 0x02;
    bool found = false;
    std::size_t at = 13; // signature and screen descriptor
    auto skipTable = [&](std::uint8_t flags) {
        if (flags & 0x80) at += std::size_t{3} << ((flags & 7) + 1);
    };
    auto skipSubBlocks = [&] {
        while (at < File.size() && File[at] != 0)
            at += 1 + File[at];
        ++at;
    };
    if (File.size() < at) return {};
    skipTable(File[10]);
    while (at < File.size() && File[at] != 0x3B) {
        if (File[at] == 0x21 && at + 1 < File.size()) {
            if (File[at + 1] == 0x01) {
                File[at + 1] = UnknownLabel;
                found = true;
            }
            at += 2;
        } else if (File[at] == 0x2C && at + 10 < File.size()) {
            skipTable(File[at + 9]);
            at += 11; // separator, descriptor, code size
        } else {
            return {};
        }
        skipSubBlocks();
    }
    return found ? File : Bytes{};
}

Bytes ReadAll(const std::filesystem::path& Path) {
    std::ifstream in(Path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void Register(const std::filesystem::path& Path) {
    Bytes file = ReadAll(Path);
    const std::int64_t pixels = SlurpWithGiflib(file);
    const std::string name = Path.filename().string();
    if (pixels <= 0) {
        std::fprintf(stderr, "skipped %s: giflib cannot read it\n", name.c_str());
        return;
    }
    try {
        TFileInMemory stream(file);
        LoadWithTGIFImage(stream.Stream);
    } catch (const Exception& e) {
        std::fprintf(stderr, "skipped %s: %s\n", name.c_str(), e.Message().c_str());
        return;
    }
    // Text drawing is ours alone: compared without it, and its cost shown apart.
    if (Bytes withoutText = WithoutPlainText(file); !withoutText.empty())
        benchmark::RegisterBenchmark(("ours-without-text/" + name).c_str(), BenchOurs, withoutText,
                                     pixels);
    benchmark::RegisterBenchmark(("ours/" + name).c_str(), BenchOurs, file, pixels);
    benchmark::RegisterBenchmark(("giflib/" + name).c_str(), BenchGiflib, file, pixels);
    RegisterControlBenchmarks(name, file, pixels);
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char scratch[] = "/tmp/bench_gif.XXXXXX";
    if (!mkdtemp(scratch)) return 1;
    const std::string command = std::string("/usr/bin/python3 ") + GIF_BENCH_SCRIPT + " " + scratch;
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "the large files could not be made; corpus only\n");
    MakeControlBenchFiles(scratch);

    // As in the program, where the picture view holds the image it shows while the next
    // one loads, the shared timer pool stays: each load pays for its image, not the pool.
    TGIFImage shown;

    std::vector<std::filesystem::path> files;
    for (const char* dir : {GIF_CORPUS_DIR, static_cast<const char*>(scratch)})
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.path().extension() == ".gif") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& path : files)
        Register(path);
    RegisterCompositionBenchmark(scratch);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(scratch);
    return 0;
}
