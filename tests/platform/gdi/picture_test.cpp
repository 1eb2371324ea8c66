#include "platform/gdi/Bitmap.h"
#include "platform/gdi/JPEGImage.h"
#include "platform/gdi/Picture.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"
#include "support/Peers.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// Graphics that remember what they were given to read.
class TFakeGraphic : public TGraphic {
public:
    void Draw(TCanvas*, const TRect&) override {}
    void SetWidth(int) override {}
    void SetHeight(int) override {}
    void LoadFromStream(TStream* stream) override {
        Bytes.resize(static_cast<std::size_t>(stream->Size() - stream->Position()));
        stream->ReadBuffer(Bytes.data(), static_cast<std::int32_t>(Bytes.size()));
        if (Bytes == "bad") throw EInvalidGraphic("not a fake picture");
        Changed();
    }
    void SaveToStream(TStream* stream) override {
        stream->WriteBuffer(Bytes.data(), static_cast<std::int32_t>(Bytes.size()));
    }
    std::string Bytes;

protected:
    bool GetEmpty() override { return Bytes.empty(); }
    int GetWidth() override { return static_cast<int>(Bytes.size()); }
    int GetHeight() override { return 1; }
};
class TFakeA : public TFakeGraphic {};
class TFakeB : public TFakeGraphic {};

class Registry : public ::testing::Test {
protected:
    void SetUp() override { FDir = vt::test::MakeTempDir("vt-picture"); }
    void TearDown() override {
        TPicture::UnregisterGraphicClass<TFakeA>();
        TPicture::UnregisterGraphicClass<TFakeB>();
        vt::test::RemoveTree(FDir);
    }
    std::string File(const std::string& name, const std::string& content) {
        vt::test::WriteFile(FDir + "/" + name, content);
        return FDir + "/" + name;
    }
    std::string FDir;
};

TEST_F(Registry, PicksTheClassByExtensionInAnyLetterCase) {
    TPicture::RegisterFileFormat<TFakeA>("FaKe", "Fake pictures");
    TPicture picture;
    int changes = 0;
    picture.OnChange = [&](TObject* sender) {
        EXPECT_EQ(sender, &picture);
        ++changes;
    };
    picture.LoadFromFile(File("Chart.FAKE", "abc"));
    auto* graphic = dynamic_cast<TFakeA*>(picture.Graphic());
    ASSERT_NE(graphic, nullptr);
    EXPECT_EQ(graphic->Bytes, "abc"); // read through LoadFromStream
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(TPicture::FileFormatDescription(".fake"), "Fake pictures");

    // Changes of the graphic reach the picture's handler.
    graphic->SetTransparent(true);
    EXPECT_EQ(changes, 2);
}

TEST_F(Registry, TheLatestRegistrationWinsUntilItIsWithdrawn) {
    TPicture::RegisterFileFormat<TFakeA>("fake", "A");
    TPicture::RegisterFileFormat<TFakeB>("FAKE", "B");
    TPicture picture;
    picture.LoadFromFile(File("x.fake", "1"));
    EXPECT_NE(dynamic_cast<TFakeB*>(picture.Graphic()), nullptr);
    EXPECT_EQ(TPicture::FileFormatDescription("fake"), "B");

    TPicture::UnregisterGraphicClass<TFakeB>();
    picture.LoadFromFile(File("x.fake", "2"));
    EXPECT_NE(dynamic_cast<TFakeA*>(picture.Graphic()), nullptr);
}

TEST_F(Registry, UnknownExtensionsAreNamedInTheError) {
    TPicture picture;
    for (const auto& [name, message] :
         {std::pair{"chart.XyZ", "Unknown picture file extension (.XyZ)"},
          std::pair{"chart", "Unknown picture file extension (.)"}}) {
        try {
            picture.LoadFromFile(File(name, "data"));
            FAIL() << "no error for " << name;
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.Message(), message);
        }
    }
    EXPECT_EQ(picture.Graphic(), nullptr);
}

TEST_F(Registry, AFailedLoadKeepsThePreviousPicture) {
    TPicture::RegisterFileFormat<TFakeA>("fake", "A");
    TPicture picture;
    picture.LoadFromFile(File("good.fake", "good"));
    TGraphic* before = picture.Graphic();
    int changes = 0;
    picture.OnChange = [&](TObject*) { ++changes; };
    EXPECT_THROW(picture.LoadFromFile(File("bad.fake", "bad")), EInvalidGraphic);
    EXPECT_THROW(picture.LoadFromFile(FDir + "/missing.fake"), EFOpenError);
    EXPECT_EQ(picture.Graphic(), before);
    EXPECT_EQ(static_cast<TFakeA*>(picture.Graphic())->Bytes, "good");
    EXPECT_EQ(changes, 0);

    picture.SetGraphic(nullptr);
    EXPECT_EQ(picture.Graphic(), nullptr);
    EXPECT_EQ(picture.Width(), 0);
    EXPECT_EQ(changes, 1);
}

TEST_F(Registry, BitmapsAndJpegFilesAreKnown) {
    RegisterJpegFormat();
    RegisterJpegFormat(); // once is enough; a second call adds nothing
    EXPECT_EQ(TPicture::FileFormatDescription("JPG"), "JPEG Image File");
    EXPECT_EQ(TPicture::FileFormatDescription("jpeg"), "JPEG Image File");
    EXPECT_EQ(TPicture::FileFormatDescription("bmp"), "Bitmaps");
    ASSERT_NE(TPicture::FileFormatFor("Jpeg"), nullptr);
    EXPECT_EQ(TPicture::FileFormatFor("Jpeg")->Type, typeid(TJPEGImage));
    EXPECT_EQ(TPicture::FileFormatFor(".BMP")->Type, typeid(TBitmap));

    TBitmap bitmap;
    bitmap.SetSize(3, 2);
    bitmap.Canvas()->SetPixel(2, 1, clRed);
    bitmap.SaveToFile(FDir + "/x.BMP");
    TPicture picture;
    picture.LoadFromFile(FDir + "/x.BMP");
    ASSERT_NE(dynamic_cast<TBitmap*>(picture.Graphic()), nullptr);
    EXPECT_EQ(picture.Bitmap()->Canvas()->Pixels(2, 1), clRed);

    TPicture copy;
    copy.Assign(&picture);
    ASSERT_NE(copy.Graphic(), picture.Graphic());
    EXPECT_EQ(copy.Bitmap()->Canvas()->Pixels(2, 1), clRed);
    EXPECT_TRUE(copy.Graphic()->Equals(picture.Graphic()));
}

TEST(Graphic, AssigningUnrelatedGraphicsIsAnError) {
    TFakeA fake;
    TJPEGImage jpeg;
    try {
        jpeg.Assign(&fake);
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TFakeA to a TJPEGImage");
    }
    EXPECT_EQ(jpeg.ClassName(), "TJPEGImage");
}

} // namespace
