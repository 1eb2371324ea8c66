// The encoder's files, read back by the project's reader and by Pillow: both must give
// exactly the pixels and colours that went in.

#include "chartservice/GIFEncoder.h"
#include "chartservice/GifCheck.h"

#include "platform/runtime/Exceptions.h"

#include <gtest/gtest.h>

#include <random>

using vt::test::TDecodedGif;

namespace {

struct TPicture {
    int Width = 0;
    int Height = 0;
    std::vector<TRgb> Palette;
    std::vector<std::uint8_t> Pixels;
};

std::vector<TRgb> Ramp(int colours) {
    std::vector<TRgb> palette;
    for (int i = 0; i < colours; ++i)
        palette.push_back({std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 7)});
    return palette;
}

TPicture Noise(int width, int height, int colours, unsigned seed) {
    TPicture p{width, height, Ramp(colours), {}};
    std::mt19937 random(seed);
    for (int i = 0; i < width * height; ++i)
        p.Pixels.push_back(std::uint8_t(random() % colours));
    return p;
}

void ExpectSame(const TPicture& in, const TDecodedGif& out, const char* decoder) {
    SCOPED_TRACE(decoder);
    ASSERT_EQ(out.Error, "");
    ASSERT_EQ(out.Width, in.Width);
    ASSERT_EQ(out.Height, in.Height);
    int wrong = 0;
    for (std::size_t i = 0; i < in.Pixels.size(); ++i) {
        const TRgb want = in.Palette[in.Pixels[i]];
        const TRgb got = {out.Rgb[3 * i], out.Rgb[3 * i + 1], out.Rgb[3 * i + 2]};
        if ((out.Indexes[i] != in.Pixels[i] || !(got == want)) && ++wrong <= 5)
            ADD_FAILURE() << "pixel " << i % in.Width << "," << i / in.Width << ": index "
                          << int(out.Indexes[i]) << " instead of " << int(in.Pixels[i]);
    }
    EXPECT_EQ(wrong, 0);
}

void RoundTrip(const TPicture& p) {
    const std::string gif = TGIFEncoder::Encode(p.Width, p.Height, p.Palette, p.Pixels);
    ASSERT_TRUE(gif.starts_with("GIF89a"));
    ASSERT_EQ(gif.back(), ';');
    ExpectSame(p, vt::test::DecodeWithOurReader(gif), "our reader");
    ExpectSame(p, vt::test::DecodeWithPillow(gif), "Pillow");
}

} // namespace

TEST(GIFEncoder, NoiseFillsTheCodeTableAndStartsItAfresh) {
    // 256 colours of noise: almost every code is new, so the 4096 codes run out many
    // times over and the table is cleared mid-stream.
    RoundTrip(Noise(300, 200, 256, 1));
}

TEST(GIFEncoder, LongRunsMakeLongStrings) {
    // One colour: strings grow by one pixel per code, through every code width.
    TPicture flat{1000, 1000, Ramp(2), std::vector<std::uint8_t>(1000000, 1)};
    RoundTrip(flat);
    // Runs of many lengths between colours, with a palette that is no power of two.
    TPicture runs{257, 129, Ramp(5), {}};
    for (int i = 0; i < 257 * 129; ++i)
        runs.Pixels.push_back(std::uint8_t((i / (1 + i % 97)) % 5));
    RoundTrip(runs);
}

TEST(GIFEncoder, SmallestPicturesAndPalettes) {
    RoundTrip({1, 1, Ramp(1), {0}});
    RoundTrip({3, 1, Ramp(2), {1, 0, 1}});
    RoundTrip(Noise(7, 5, 3, 2));     // three colours: a four-entry table
    RoundTrip(Noise(1, 300, 16, 3));  // one column
    RoundTrip(Noise(64, 64, 129, 4)); // just over 128 colours: an eight-bit table
}

TEST(GIFEncoder, HeaderAndTableAreLaidOutAsTheFormatSays) {
    const std::string gif = TGIFEncoder::Encode(2, 1, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {2, 0});
    const auto* b = reinterpret_cast<const std::uint8_t*>(gif.data());
    EXPECT_EQ(b[6] | b[7] << 8, 2);      // screen width
    EXPECT_EQ(b[8] | b[9] << 8, 1);      // screen height
    EXPECT_EQ(b[10], 0x80 | 1 << 4 | 1); // global table of 2^(1+1) entries
    // The three colours, then black padding to four entries.
    const std::vector<std::uint8_t> table(b + 13, b + 13 + 12);
    EXPECT_EQ(table, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}));
    EXPECT_EQ(b[25], 0x2C); // image separator
    EXPECT_EQ(b[34], 0);    // no local table, not interlaced
    EXPECT_EQ(b[35], 2);    // smallest code size of the format
}

TEST(GIFEncoder, RefusesWhatNoGifCanHold) {
    EXPECT_THROW(TGIFEncoder::Encode(0, 1, Ramp(2), {}), EInvalidGraphicOperation);
    EXPECT_THROW(TGIFEncoder::Encode(65536, 1, Ramp(2), std::vector<std::uint8_t>(65536)),
                 EInvalidGraphicOperation);
    EXPECT_THROW(TGIFEncoder::Encode(2, 2, Ramp(2), {0, 1, 0}), EInvalidGraphicOperation);
    EXPECT_THROW(TGIFEncoder::Encode(1, 1, {}, {0}), EInvalidGraphicOperation);
    EXPECT_THROW(TGIFEncoder::Encode(1, 1, Ramp(257), {0}), EInvalidGraphicOperation);
    EXPECT_THROW(TGIFEncoder::Encode(2, 1, Ramp(2), {0, 2}), EInvalidGraphicOperation);
}
