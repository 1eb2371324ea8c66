// TGIFImage: loading, frame selection, sharing, streaming, drawing, the shared timer
// pool and the picture-format registration.

#include "GifBytes.h"
#include "gif/GIFData.h"
#include "gif/GIFImage.h"
#include "platform/gdi/Bitmap.h"
#include "platform/gdi/Picture.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"
#include "support/Peers.h"
#include "util/ObjectLists.h"
#include "util/TimerPool.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace giftest;

namespace {

// A w x h image of one index (global table entry i is (i, 2i, 3i)).
Bytes SolidImage(int W, int H, std::uint8_t Index) {
    return Image(W, H, 2, PackCodes(LiteralCodes(Bytes(std::size_t(W) * H, Index), 2)));
}

// Three frames of 200x100 with delays 1.0, 2.5 and 0.5 s, of indexes 1, 2, 3.
Bytes ThreeFrames() {
    Bytes file = Header(200, 100, 2);
    const int delays[] = {100, 250, 50};
    for (int i = 0; i < 3; ++i) {
        Append(file, GraphicControl(delays[i]));
        Append(file, SolidImage(200, 100, static_cast<std::uint8_t>(i + 1)));
    }
    file.push_back(0x3B);
    return file;
}

Bytes OneFrame() {
    Bytes file = Header(4, 3, 2);
    Append(file, SolidImage(4, 3, 3));
    file.push_back(0x3B);
    return file;
}

struct Source {
    explicit Source(const Bytes& Data) {
        S.WriteBuffer(Data.data(), int(Data.size()));
        S.SetPosition(0);
    }
    TMemoryStream S;
};

Bytes Contents(TMemoryStream& S) {
    auto* p = static_cast<std::uint8_t*>(S.Memory());
    return Bytes(p, p + S.Size());
}

// Counts OnChange signals.
struct ChangeCounter {
    explicit ChangeCounter(TGraphic& G) {
        G.OnChange = [this](TObject*) { ++Count; };
    }
    int Count = 0;
};

std::unique_ptr<TGIFImage> Loaded(const Bytes& File) {
    auto image = std::make_unique<TGIFImage>();
    Source src(File);
    image->LoadFromStream(&src.S);
    return image;
}

} // namespace

TEST(gifImage, LoadingSelectsFirstFrameAndSignalsOnce) {
    TGIFImage image;
    ChangeCounter changes(image);
    EXPECT_TRUE(image.Empty());
    Source src(OneFrame());
    image.LoadFromStream(&src.S);
    EXPECT_EQ(changes.Count, 1);
    EXPECT_EQ(image.CurrentFrame(), 0);
    EXPECT_EQ(image.FrameCount(), 1);
    EXPECT_FALSE(image.Empty());
    EXPECT_EQ(image.Width(), 4);
    EXPECT_EQ(image.Height(), 3);
    EXPECT_EQ(image.CurrentBitmap()->Canvas()->Pixels(3, 2), RGB(3, 6, 9));
}

TEST(gifImage, LoadFromStreamReadsFromTheCurrentPosition) {
    Bytes withPrefix = {'j', 'u', 'n', 'k'};
    Append(withPrefix, OneFrame());
    Source src(withPrefix);
    src.S.SetPosition(4);
    TGIFImage image;
    image.LoadFromStream(&src.S);
    EXPECT_EQ(image.FrameCount(), 1);
    TMemoryStream saved;
    image.SaveToStream(&saved);
    EXPECT_EQ(Contents(saved), OneFrame());
}

TEST(gifImage, FrameSelectionClampsAndSignalsOnlyChanges) {
    auto image = Loaded(ThreeFrames());
    ChangeCounter changes(*image);
    image->SetCurrentFrame(99);
    EXPECT_EQ(image->CurrentFrame(), 2);
    EXPECT_EQ(image->CurrentBitmap()->Canvas()->Pixels(0, 0), RGB(3, 6, 9));
    image->SetCurrentFrame(-5);
    EXPECT_EQ(image->CurrentFrame(), 0);
    EXPECT_EQ(changes.Count, 2);
    image->SetCurrentFrame(0);
    EXPECT_EQ(changes.Count, 2);
    image->NextFrame();
    EXPECT_EQ(image->CurrentFrame(), 1);
    image->NextFrame();
    image->NextFrame(); // after the last frame comes the first
    EXPECT_EQ(image->CurrentFrame(), 0);
}

TEST(gifImage, TriggerIntervalFollowsFrameDelay) {
    auto image = Loaded(ThreeFrames());
    TTrigger* trigger = GIFTimerPool()->TriggerByHandle(image->TriggerHandle());
    EXPECT_FALSE(trigger->Enabled());     // nothing switches the animation on
    EXPECT_EQ(trigger->Interval(), 1000); // 1 s delay of frame 0
    image->SetCurrentFrame(1);
    EXPECT_EQ(trigger->Interval(), 2500);
    image->SetCurrentFrame(2);
    EXPECT_EQ(trigger->Interval(), 500);
    auto noDelay = Loaded(OneFrame());
    EXPECT_EQ(GIFTimerPool()->TriggerByHandle(noDelay->TriggerHandle())->Interval(), 55);
}

TEST(gifImage, SharedPoolLivesFromFirstToLastImage) {
    ASSERT_EQ(GIFTimerPool(), nullptr);
    auto first = std::make_unique<TGIFImage>();
    TTimerPool* pool = GIFTimerPool();
    ASSERT_NE(pool, nullptr);
    EXPECT_FALSE(pool->DefEnabled());
    auto second = std::make_unique<TGIFImage>();
    EXPECT_EQ(GIFTimerPool(), pool);
    EXPECT_EQ(first->TriggerHandle(), 0);
    EXPECT_EQ(second->TriggerHandle(), 1);
    EXPECT_EQ(pool->TriggerCount(), 2);
    EXPECT_EQ(pool->EnabledTriggerCount(), 0);
    first.reset();
    EXPECT_EQ(GIFTimerPool(), pool);
    EXPECT_EQ(pool->TriggerCount(), 1);
    second.reset();
    EXPECT_EQ(GIFTimerPool(), nullptr);
    TGIFImage again; // a new pool for a new first image
    EXPECT_NE(GIFTimerPool(), nullptr);
    EXPECT_EQ(again.TriggerHandle(), 0);
}

TEST(gifImage, AssignSharesDataAndSurvivesEitherSide) {
    auto source = Loaded(ThreeFrames());
    source->SetCurrentFrame(2);
    auto copy = std::make_unique<TGIFImage>();
    ChangeCounter changes(*copy);
    copy->Assign(source.get());
    EXPECT_EQ(changes.Count, 1);
    EXPECT_EQ(copy->GIFData(), source->GIFData());
    EXPECT_EQ(copy->GIFData()->RefCount(), 2);
    EXPECT_EQ(copy->CurrentFrame(), 2);
    EXPECT_EQ(copy->Width(), 200);
    EXPECT_EQ(copy->Height(), 100);
    EXPECT_EQ(copy->FrameCount(), 3);
    source.reset();
    EXPECT_EQ(copy->GIFData()->RefCount(), 1);
    EXPECT_EQ(copy->CurrentBitmap()->Canvas()->Pixels(199, 99), RGB(3, 6, 9));

    auto other = Loaded(OneFrame());
    other->Assign(copy.get());
    copy.reset();
    EXPECT_EQ(other->FrameCount(), 3);
    other->Assign(other.get()); // itself: nothing lost
    EXPECT_EQ(other->GIFData()->RefCount(), 1);
    EXPECT_EQ(other->FrameCount(), 3);
}

TEST(gifImage, LoadingReplacesSharedDataOnlyForItself) {
    // Loaded data shared with another image: the other keeps its frames.
    auto shown = Loaded(ThreeFrames());
    TGIFImage next;
    next.Assign(shown.get());
    Source one(OneFrame());
    next.LoadFromStream(&one.S);
    EXPECT_EQ(next.FrameCount(), 1);
    EXPECT_EQ(shown->FrameCount(), 3);
    EXPECT_EQ(shown->GIFData()->RefCount(), 1);
    // Empty data shared by two images: loading into one leaves the other empty.
    TGIFImage empty, loading;
    loading.Assign(&empty);
    Source three(ThreeFrames());
    loading.LoadFromStream(&three.S);
    EXPECT_NE(loading.GIFData(), empty.GIFData());
    EXPECT_EQ(loading.FrameCount(), 3);
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(empty.FrameCount(), 0);
}

TEST(gifImage, AssignNilEmptiesAndOtherGraphicsAreRefused) {
    auto image = Loaded(OneFrame());
    ChangeCounter changes(*image);
    image->Assign(nullptr);
    EXPECT_EQ(changes.Count, 1);
    EXPECT_TRUE(image->Empty());
    EXPECT_EQ(image->CurrentFrame(), -1);
    EXPECT_EQ(image->Width(), 0);
    TBitmap bitmap;
    try {
        image->Assign(&bitmap);
        FAIL() << "no error";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message(), "Cannot assign to TGIFImage");
    }
}

TEST(gifImage, RequestedSizeIsClippedAndImageNotResized) {
    auto image = Loaded(ThreeFrames());
    ChangeCounter changes(*image);
    image->SetWidth(10000);
    EXPECT_EQ(image->RequestedWidth(), 200);
    EXPECT_EQ(image->Width(), 200);
    image->SetWidth(10000);
    EXPECT_EQ(changes.Count, 1);
    image->SetHeight(40);
    EXPECT_EQ(image->RequestedHeight(), 40);
    EXPECT_EQ(image->Height(), 100);
    EXPECT_EQ(changes.Count, 2);
}

TEST(gifImage, SaveWritesTheLoadedBytesExactly) {
    TGIFImage empty;
    TMemoryStream out;
    try {
        empty.SaveToStream(&out);
        FAIL() << "no error";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message(), "No GIF data");
    }
    Bytes file = ThreeFrames();
    Append(file, {'t', 'a', 'i', 'l'}); // bytes after the trailer are kept too
    auto image = Loaded(file);
    image->SaveToStream(&out);
    EXPECT_EQ(Contents(out), file);
}

TEST(gifImage, WriteDataThenReadDataRestores) {
    auto image = Loaded(ThreeFrames());
    image->SetCurrentFrame(2);
    TMemoryStream stored;
    image->WriteData(&stored);
    const Bytes bytes = Contents(stored);
    const std::size_t n = ThreeFrames().size();
    ASSERT_EQ(bytes.size(), 4 + n);
    EXPECT_EQ(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24, int(n));

    TGIFImage restored;
    stored.SetPosition(0);
    restored.ReadData(&stored);
    EXPECT_EQ(restored.CurrentFrame(), 0);
    EXPECT_EQ(restored.FrameCount(), 3);
    TMemoryStream saved;
    restored.SaveToStream(&saved);
    EXPECT_EQ(Contents(saved), ThreeFrames());

    TGIFImage empty;
    TMemoryStream zero;
    empty.WriteData(&zero);
    EXPECT_EQ(Contents(zero), (Bytes{0, 0, 0, 0}));
}

TEST(gifImage, ShortOrBogusLengthsFailWithReadError) {
    // Announced 1000 bytes, 10 present; a negative length.
    for (Bytes data : {Bytes{0xE8, 0x03, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
                       Bytes{0xFF, 0xFF, 0xFF, 0xFF, 1}, Bytes{1, 0}}) {
        Source src(data);
        TGIFImage image;
        try {
            image.ReadData(&src.S);
            FAIL() << "no error";
        } catch (const EReadError& e) {
            EXPECT_EQ(e.Message(), "Stream read error");
        }
        EXPECT_TRUE(image.Empty());
    }
}

TEST(gifImage, ParseErrorLeavesLoadFromStreamWithFramesSoFar) {
    Bytes file = Header(2, 2, 2);
    Append(file, SolidImage(2, 2, 1));
    file.push_back(0x00); // where the next block should start
    TGIFImage image;
    Source src(file);
    EXPECT_THROW(image.LoadFromStream(&src.S), EInvalidGraphicOperation);
    EXPECT_EQ(image.GIFData()->Frames()->Count(), 1);
    EXPECT_EQ(image.FrameCount(), 1);
}

TEST(gifImage, NeverLoadedImageDrawsNothingAndRefusesFrames) {
    TGIFImage image;
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(image.FrameCount(), 0);
    TBitmap target;
    target.SetPixelFormat(pf24bit);
    target.SetSize(5, 5);
    target.Canvas()->Brush()->SetColor(clLime);
    target.Canvas()->FillRect(Rect(0, 0, 5, 5));
    target.Canvas()->StretchDraw(Rect(0, 0, 5, 5), &image);
    EXPECT_EQ(target.Canvas()->Pixels(2, 2), clLime);
    EXPECT_THROW(image.CurrentBitmap(), EInvalidGraphicOperation);
    image.NextFrame(); // no frames: stays without a frame
    EXPECT_EQ(image.CurrentFrame(), -1);
    TMemoryStream out;
    EXPECT_THROW(image.SaveToStream(&out), EInvalidGraphicOperation);
}

TEST(gifImage, DrawStretchesTheCurrentFrame) {
    // 2x1 image: left pixel index 1 (1,2,3), right pixel index 3 (3,6,9).
    Bytes file = Header(2, 1, 2);
    Append(file, Image(2, 1, 2, PackCodes(LiteralCodes({1, 3}, 2))));
    file.push_back(0x3B);
    auto image = Loaded(file);
    TBitmap target;
    target.SetPixelFormat(pf24bit);
    target.SetSize(10, 4);
    target.Canvas()->StretchDraw(Rect(0, 0, 10, 4), image.get());
    EXPECT_EQ(target.Canvas()->Pixels(1, 1), RGB(1, 2, 3));
    EXPECT_EQ(target.Canvas()->Pixels(8, 3), RGB(3, 6, 9));
}

TEST(gifImage, DrawingAFileWithoutFramesIsAListError) {
    Bytes file = Header(2, 2, 2);
    file.push_back(0x3B);
    auto image = Loaded(file);
    EXPECT_EQ(image->CurrentFrame(), -1);
    TBitmap target;
    target.SetSize(2, 2);
    try {
        target.Canvas()->StretchDraw(Rect(0, 0, 2, 2), image.get());
        FAIL() << "no error";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (-1)");
    }
}

TEST(gifImage, RegisteredForGifFilesInAnyCase) {
    InitializeGifImg();
    InitializeGifImg();
    const TGraphicClass* cls = TPicture::FileFormatFor("gif");
    ASSERT_NE(cls, nullptr);
    EXPECT_EQ(cls->Type, std::type_index(typeid(TGIFImage)));
    EXPECT_EQ(TPicture::FileFormatDescription(".GIF"), "Graphics Interchange Format");

    const std::string dir = vt::test::MakeTempDir("gif-registry");
    const std::string name = dir + "/Chart.GIF";
    const Bytes file = ThreeFrames();
    vt::test::WriteFile(name, std::string(file.begin(), file.end()));
    TPicture picture;
    picture.LoadFromFile(name);
    auto* gif = dynamic_cast<TGIFImage*>(picture.Graphic());
    ASSERT_NE(gif, nullptr);
    EXPECT_EQ(gif->FrameCount(), 3);
    EXPECT_EQ(picture.Width(), 200);

    // A broken file leaves the picture as it was.
    vt::test::WriteFile(dir + "/broken.gif",
                        std::string("GIF89a\x02\x00\x02\x00\x00\x00\x00!", 14));
    EXPECT_THROW(picture.LoadFromFile(dir + "/broken.gif"), Exception);
    EXPECT_EQ(picture.Graphic(), gif);
    vt::test::RemoveTree(dir);
}
