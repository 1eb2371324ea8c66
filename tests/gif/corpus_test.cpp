// Files made by real encoders (tests/data/gif/make_corpus.sh): every frame must decode to
// the palette indexes, palette and delay that a reference decoder found in it.

#include "gif/GIFData.h"
#include "gif/GIFImage.h"
#include "platform/gdi/Bitmap.h"
#include "platform/runtime/Streams.h"
#include "support/Peers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct RefFrame {
    int Width = 0, Height = 0, Delay = 0;
    std::vector<std::uint8_t> Palette; // r, g, b per entry
    std::vector<std::uint8_t> Pixels;
};

std::string CorpusDir() {
    return GIF_CORPUS_DIR;
}

std::vector<RefFrame> ReadReference(const std::string& Path) {
    const std::string raw = vt::test::ReadFile(Path);
    const auto* p = reinterpret_cast<const std::uint8_t*>(raw.data());
    std::size_t at = 0;
    auto u16 = [&] {
        const int v = p[at] | p[at + 1] << 8;
        at += 2;
        return v;
    };
    std::vector<RefFrame> frames;
    while (at + 8 <= raw.size()) {
        RefFrame f;
        f.Width = u16();
        f.Height = u16();
        f.Delay = u16();
        const int entries = u16();
        f.Palette.assign(p + at, p + at + 3 * entries);
        at += 3 * entries;
        f.Pixels.assign(p + at, p + at + std::size_t(f.Width) * f.Height);
        at += std::size_t(f.Width) * f.Height;
        frames.push_back(std::move(f));
    }
    EXPECT_EQ(at, raw.size()) << Path;
    return frames;
}

std::vector<std::string> CorpusFiles() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(CorpusDir()))
        if (entry.path().extension() == ".gif") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Pixels outside the plain text grid that make_corpus.sh splices into plain_text.gif.
bool InTextGrid(const std::string& Name, int X, int Y) {
    return Name == "plain_text.gif" && X >= 4 && X < 44 && Y >= 5 && Y < 17;
}

void CheckFile(const std::string& Name) {
    SCOPED_TRACE(Name);
    const std::vector<RefFrame> reference = ReadReference(CorpusDir() + "/" + Name + ".ref");
    ASSERT_FALSE(reference.empty());
    TGIFImage image;
    image.LoadFromFile(CorpusDir() + "/" + Name);
    ASSERT_EQ(image.FrameCount(), int(reference.size()));
    EXPECT_EQ(image.CurrentFrame(), 0);
    int textPixels = 0;
    for (int i = 0; i < image.FrameCount(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const RefFrame& ref = reference[i];
        TBitmap* bitmap = image.GIFData()->FrameBitmap(i);
        ASSERT_EQ(bitmap->Width(), ref.Width);
        ASSERT_EQ(bitmap->Height(), ref.Height);
        EXPECT_EQ(image.GIFData()->FrameDelay(i), std::min(ref.Delay / 10, 30));
        int wrong = 0;
        for (int y = 0; y < ref.Height; ++y) {
            const auto* row = static_cast<const std::uint8_t*>(bitmap->ScanLine(y));
            for (int x = 0; x < ref.Width; ++x) {
                const std::uint8_t want = ref.Pixels[std::size_t(y) * ref.Width + x];
                if (InTextGrid(Name, x, y)) {
                    textPixels += row[x] != want;
                } else if (row[x] != want && ++wrong <= 5) {
                    ADD_FAILURE() << "pixel " << x << "," << y << ": " << int(row[x])
                                  << " instead of " << int(want);
                }
            }
        }
        EXPECT_EQ(wrong, 0);
        // The palette in force gives each pixel the reference colour.
        PALETTEENTRY entries[256];
        const int count = int(GetPaletteEntries(bitmap->Palette(), 0, 256, entries));
        const int refCount = int(ref.Palette.size() / 3);
        ASSERT_GT(count, 0);
        for (int e = 0; e < std::min(count, refCount); ++e) {
            EXPECT_EQ(entries[e].peRed, ref.Palette[3 * e]) << "entry " << e;
            EXPECT_EQ(entries[e].peGreen, ref.Palette[3 * e + 1]) << "entry " << e;
            EXPECT_EQ(entries[e].peBlue, ref.Palette[3 * e + 2]) << "entry " << e;
        }
        const std::uint8_t corner = ref.Pixels.back();
        if (corner < refCount && !InTextGrid(Name, ref.Width - 1, ref.Height - 1)) {
            EXPECT_EQ(bitmap->Canvas()->Pixels(ref.Width - 1, ref.Height - 1),
                      RGB(ref.Palette[3 * corner], ref.Palette[3 * corner + 1],
                          ref.Palette[3 * corner + 2]));
        }
    }
    if (Name == "plain_text.gif") {
        EXPECT_GT(textPixels, 10); // the text was drawn onto the frame
    }
}

} // namespace

#define CORPUS_FILES(X)                                                                            \
    X(OnePixel, "one_pixel.gif")                                                                   \
    X(Column1x1000, "column_1x1000.gif")                                                           \
    X(Row1000x1, "row_1000x1.gif")                                                                 \
    X(Interlaced3x3, "interlaced_3x3.gif")                                                         \
    X(TwoColours, "rose_c2.gif")                                                                   \
    X(FourColours, "rose_c4.gif")                                                                  \
    X(EightColours, "rose_c8.gif")                                                                 \
    X(SixteenColours, "rose_c16.gif")                                                              \
    X(ThirtyTwoColours, "rose_c32.gif")                                                            \
    X(SixtyFourColours, "rose_c64.gif")                                                            \
    X(OneHundredTwentyEightColours, "rose_c128.gif")                                               \
    X(TwoHundredFiftySixColours, "rose_c256.gif")                                                  \
    X(Interlaced, "rose_interlaced.gif")                                                           \
    X(Comment, "rose_comment.gif")                                                                 \
    X(ImageMagickAnimation, "anim_imagemagick.gif")                                                \
    X(GifsicleAnimation, "anim_gifsicle.gif")                                                      \
    X(PillowAnimation, "anim_pillow.gif")                                                          \
    X(PillowGrey, "grey_pillow.gif")                                                               \
    X(PlainText, "plain_text.gif")

#define CORPUS_TEST(Test, File)                                                                    \
    TEST(gifCorpus, Test) {                                                                        \
        CheckFile(File);                                                                           \
    }
CORPUS_FILES(CORPUS_TEST)

TEST(gifCorpus, EveryFileHasATestAndAReference) {
#define CORPUS_NAME(Test, File) File,
    std::vector<std::string> listed = {CORPUS_FILES(CORPUS_NAME)};
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(CorpusFiles(), listed);
    for (const std::string& name : listed)
        EXPECT_TRUE(std::filesystem::exists(CorpusDir() + "/" + name + ".ref")) << name;
}
