// JPEG files made by ImageMagick (tests/data/jpeg/make.sh) against the pixels that
// ImageMagick decodes from them.

#include "GdiTestSupport.h"

#include "platform/gdi/JPEGImage.h"
#include "platform/gdi/Picture.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"
#include "support/Peers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>

namespace {

constexpr int PictureWidth = 61;
constexpr int PictureHeight = 45;

std::string DataFile(const std::string& name) {
    return vt::test::TestDataDir() + "/jpeg/" + name;
}

std::string ReadData(const std::string& name) {
    const std::string bytes = vt::test::ReadFile(DataFile(name));
    if (bytes.empty()) throw std::runtime_error("missing test file " + DataFile(name));
    return bytes;
}

void LoadBytes(TJPEGImage& image, const std::string& bytes) {
    TMemoryStream stream;
    if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    stream.SetPosition(0);
    image.LoadFromStream(&stream);
}

// The largest difference of any colour component between the decoded picture and the
// reference pixels.
int LargestDifference(TBitmap& decoded, const std::string& reference) {
    int largest = 0;
    for (int y = 0; y < PictureHeight; ++y) {
        for (int x = 0; x < PictureWidth; ++x) {
            const auto colour = static_cast<DWORD>(decoded.Canvas()->Pixels(x, y));
            const auto* want =
                reinterpret_cast<const BYTE*>(reference.data()) + (y * PictureWidth + x) * 3;
            largest = std::max({largest, std::abs(GetRValue(colour) - want[0]),
                                std::abs(GetGValue(colour) - want[1]),
                                std::abs(GetBValue(colour) - want[2])});
        }
    }
    return largest;
}

class JpegFiles : public ::testing::TestWithParam<std::pair<const char*, int>> {};

TEST_P(JpegFiles, DecodeToTheReferencePixels) {
    const auto [name, tolerance] = GetParam();
    TJPEGImage image;
    image.LoadFromFile(DataFile(std::string(name) + ".jpg"));
    ASSERT_EQ(image.Width(), PictureWidth);
    ASSERT_EQ(image.Height(), PictureHeight);
    EXPECT_FALSE(image.Empty());
    const std::string reference = ReadData(std::string(name) + ".rgb");
    ASSERT_EQ(reference.size(), std::size_t{PictureWidth * PictureHeight * 3});
    EXPECT_LE(LargestDifference(*image.Bitmap(), reference), tolerance);
}

INSTANTIATE_TEST_SUITE_P(Kinds, JpegFiles,
                         ::testing::Values(std::pair{"baseline", 2}, std::pair{"progressive", 2},
                                           std::pair{"gray", 2}, std::pair{"cmyk", 3}),
                         [](const auto& info) { return std::string(info.param.first); });

TEST(Jpeg, LoadsThroughThePictureRegistryAndDrawsStretched) {
    RegisterJpegFormat();
    TPicture picture;
    picture.LoadFromFile(DataFile("progressive.jpg"));
    ASSERT_NE(dynamic_cast<TJPEGImage*>(picture.Graphic()), nullptr);
    EXPECT_EQ(picture.Width(), PictureWidth);

    TBitmap screen;
    screen.SetSize(122, 90);
    screen.Canvas()->StretchDraw(Rect(0, 0, 122, 90), picture.Graphic());
    const std::string reference = ReadData("progressive.rgb");
    // Each corner of the doubled picture shows the corner pixel of the file.
    for (auto [x, y] : {std::pair{0, 0}, {60, 0}, {0, 44}, {60, 44}}) {
        const auto got = static_cast<DWORD>(screen.Canvas()->Pixels(x * 2 + 1, y * 2 + 1));
        const auto* want =
            reinterpret_cast<const BYTE*>(reference.data()) + (y * PictureWidth + x) * 3;
        EXPECT_NEAR(GetRValue(got), want[0], 2) << x << "," << y;
        EXPECT_NEAR(GetGValue(got), want[1], 2) << x << "," << y;
        EXPECT_NEAR(GetBValue(got), want[2], 2) << x << "," << y;
    }
}

TEST(Jpeg, SavingWritesTheLoadedBytesAndAssignCopiesThem) {
    const std::string bytes = ReadData("baseline.jpg");
    TJPEGImage image;
    EXPECT_TRUE(image.Empty());
    EXPECT_THROW(image.SaveToStream(nullptr), EInvalidGraphic);
    LoadBytes(image, bytes);
    TMemoryStream saved;
    image.SaveToStream(&saved);
    EXPECT_EQ(std::string(static_cast<const char*>(saved.Memory()), saved.Size()), bytes);

    TJPEGImage copy;
    copy.Assign(&image);
    EXPECT_TRUE(copy.Equals(&image));
    EXPECT_EQ(copy.Bitmap()->Canvas()->Pixels(30, 20), image.Bitmap()->Canvas()->Pixels(30, 20));
    copy.Assign(nullptr);
    EXPECT_TRUE(copy.Empty());
    EXPECT_EQ(copy.Width(), 0);
}

// Damaged data fails with EInvalidGraphic, prints nothing, and leaves the image as it
// was.
void ExpectRefused(TJPEGImage& image, const std::string& bytes, const std::string& what) {
    const TColor before = image.Bitmap()->Canvas()->Pixels(10, 10);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    bool refused = false;
    try {
        LoadBytes(image, bytes);
    } catch (const EInvalidGraphic& e) {
        refused = true;
        EXPECT_EQ(e.Message().rfind("JPEG image is not valid (", 0), 0u) << e.Message();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << what;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << what;
    EXPECT_TRUE(refused) << what;
    EXPECT_EQ(image.Width(), PictureWidth) << what;
    EXPECT_EQ(image.Bitmap()->Canvas()->Pixels(10, 10), before) << what;
}

TEST(Jpeg, TruncatedFilesAreRefused) {
    for (const char* name : {"baseline.jpg", "progressive.jpg"}) {
        const std::string bytes = ReadData(name);
        TJPEGImage image;
        LoadBytes(image, bytes);
        for (std::size_t length :
             {std::size_t{1}, std::size_t{2}, std::size_t{20}, std::size_t{160}, std::size_t{400},
              bytes.size() / 2, bytes.size() - 40, bytes.size() - 2})
            ExpectRefused(image, bytes.substr(0, length),
                          std::string(name) + " cut at " + std::to_string(length));
    }
}

TEST(Jpeg, GarbageIsRefused) {
    TJPEGImage image;
    LoadBytes(image, ReadData("gray.jpg"));
    std::mt19937 random(42);
    std::string noise(3000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    ExpectRefused(image, noise, "noise");
    ExpectRefused(image, "\xFF\xD8\xFF" + noise, "noise after a start marker");
    ExpectRefused(image, ReadData("make.sh"), "a script");

    // Damaged entropy-coded data inside an otherwise whole file.
    std::string damaged = ReadData("baseline.jpg");
    for (std::size_t i = damaged.size() / 2; i < damaged.size() / 2 + 64; ++i)
        damaged[i] = static_cast<char>(0xFF);
    ExpectRefused(image, damaged, "damaged scan");

    try {
        LoadBytes(image, "");
        FAIL() << "no error";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), "JPEG image is not valid (Empty input file)");
    }
}

// Random damage anywhere in a file: the picture either still decodes or is refused,
// never anything else (the sanitizers watch the decoder's memory meanwhile).
TEST(Jpeg, RandomDamageIsDecodedOrRefused) {
    std::mt19937 random(7);
    for (const char* name : {"baseline.jpg", "progressive.jpg"}) {
        const std::string original = ReadData(name);
        for (int round = 0; round < 150; ++round) {
            std::string bytes = original;
            for (int flips = 1 + round % 4; flips > 0; --flips)
                bytes[random() % bytes.size()] = static_cast<char>(random());
            TJPEGImage image;
            testing::internal::CaptureStderr();
            try {
                LoadBytes(image, bytes);
                EXPECT_GT(image.Width(), 0);
            } catch (const EInvalidGraphic&) {
                EXPECT_TRUE(image.Empty());
            }
            EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << name << " round " << round;
        }
    }
}

TEST(Jpeg, CraftedHugeDimensionsAreRefusedBeforeAllocating) {
    std::string bytes = ReadData("baseline.jpg");
    // The SOF0 frame header holds height and width (big-endian) after its length and
    // precision bytes.
    const std::size_t sof = bytes.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    bytes.replace(sof + 5, 4, "\xFF\xF0\xFF\xF0");
    TJPEGImage image;
    LoadBytes(image, ReadData("baseline.jpg"));
    ExpectRefused(image, bytes, "65520 x 65520");
}

} // namespace
