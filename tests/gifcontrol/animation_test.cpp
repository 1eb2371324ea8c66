// The control's loading, its animation driven tick by tick (and once by its real timer),
// frame selection, loop counts, speed, progress and the "Data" property.

#include "ControlTestSupport.h"

#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SysUtils.h"
#include "support/Pump.h"
#include "util/TimerEx.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

using namespace gifctest;
using giftest::Append;

namespace {

// The frame on screen, told by the colour of its top-left pixel (SolidAnimation).
int ShownFrame(TTestControl& C) {
    const TColor shown = C.Image()->Canvas()->Pixels(0, 0);
    for (int k = 1; k <= 15; ++k)
        if (shown == TableColor((k + 1) % 16)) return k;
    return -1;
}

struct Recorder {
    std::vector<int> Shown;
    int Wraps = 0;
    int Changing = 0;
    void Attach(TTestControl& C) {
        C.OnChanging = [this](TObject*) { ++Changing; };
        C.OnWrapAnimation = [this](TObject*) { ++Wraps; };
    }
};

// Ticks N times and records the frame on screen after each tick.
void Tick(TTestControl& C, Recorder& R, int N) {
    for (int i = 0; i < N; ++i) {
        C.TimerTick(nullptr);
        R.Shown.push_back(ShownFrame(C));
    }
}

} // namespace

TEST(animation, OneFrameFileNeverStartsTheTimer) {
    TTestControl c;
    ASSERT_TRUE(c.Load(SolidAnimation(1)));
    c.SetAnimate(true);
    EXPECT_FALSE(c.Timer()->Enabled());
    TBitmap target;
    target.SetSize(c.Width(), c.Height());
    c.PaintOn(target);
    EXPECT_FALSE(c.Timer()->Enabled());
}

TEST(animation, PlaysOnceWithoutLoopExtension) {
    TTestControl c;
    Recorder r;
    r.Attach(c);
    ASSERT_TRUE(c.Load(SolidAnimation(3)));
    EXPECT_EQ(c.LoopCount(), 1);
    EXPECT_EQ(ShownFrame(c), 1);
    c.SetAnimate(true);
    EXPECT_TRUE(c.Timer()->Enabled());
    // The first tick only sets the interval; frames 2 and 3 follow, then the timer stops
    // with frame 3 on screen and the current frame one past the last.
    Tick(c, r, 3);
    EXPECT_EQ(r.Shown, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(r.Wraps, 1);
    EXPECT_FALSE(c.Timer()->Enabled());
    EXPECT_EQ(c.CurrentFrame(), 4);
    EXPECT_EQ(c.LoopsDone(), 2);
    // A paint does not restart a finished animation.
    TBitmap target;
    target.SetSize(c.Width(), c.Height());
    c.PaintOn(target);
    EXPECT_FALSE(c.Timer()->Enabled());

    // Switching Loop on restarts it from frame 1.
    c.SetLoop(true);
    EXPECT_TRUE(c.Timer()->Enabled());
    EXPECT_EQ(c.CurrentFrame(), 1);
    EXPECT_EQ(c.LoopsDone(), 1);
}

TEST(animation, LoopCyclesAndWrapsEveryTime) {
    TTestControl c;
    Recorder r;
    r.Attach(c);
    ASSERT_TRUE(c.Load(SolidAnimation(3)));
    EXPECT_EQ(r.Changing, 1); // the load shows frame 1
    r.Changing = 0;
    c.SetLoop(true);
    c.SetAnimate(true);
    Tick(c, r, 9);
    EXPECT_EQ(r.Shown, (std::vector<int>{1, 2, 3, 1, 2, 3, 1, 2, 3}));
    EXPECT_EQ(r.Wraps, 3);
    EXPECT_EQ(r.Changing, 9);
    EXPECT_TRUE(c.Timer()->Enabled());
}

TEST(animation, StoppingRightAfterAWrapShowsFrameOneAgain) {
    TTestControl c;
    Recorder r;
    r.Attach(c);
    ASSERT_TRUE(c.Load(SolidAnimation(3)));
    c.SetLoop(true);
    c.SetAnimate(true);
    Tick(c, r, 3); // frames 1, 2, 3: the next frame to draw is 1 again
    ASSERT_EQ(ShownFrame(c), 3);
    c.SetAnimate(false);
    EXPECT_EQ(ShownFrame(c), 1);
    EXPECT_EQ(c.CurrentFrame(), 1);
}

TEST(animation, NetscapeLoopCounts) {
    // Loop count 0 runs forever with Loop off.
    TTestControl forever;
    Recorder r;
    r.Attach(forever);
    ASSERT_TRUE(forever.Load(SolidAnimation(2, 4, 3, 0, 0)));
    EXPECT_EQ(forever.LoopCount(), 0);
    forever.SetAnimate(true);
    Tick(forever, r, 10);
    EXPECT_EQ(r.Wraps, 5);
    EXPECT_TRUE(forever.Timer()->Enabled());

    // Loop count 2 plays twice.
    TTestControl twice;
    Recorder t;
    t.Attach(twice);
    ASSERT_TRUE(twice.Load(SolidAnimation(2, 4, 3, 0, 2)));
    twice.SetAnimate(true);
    Tick(twice, t, 4);
    EXPECT_EQ(t.Shown, (std::vector<int>{1, 2, 1, 2}));
    EXPECT_FALSE(twice.Timer()->Enabled());
    EXPECT_EQ(t.Wraps, 2);
}

TEST(animation, IntervalsFromDelayAndSpeed) {
    TTestControl c;
    ASSERT_TRUE(c.Load(SolidAnimation(2, 4, 3, 0)));
    EXPECT_EQ(c.Timer()->Interval(), 1u); // after a load the first tick comes at once
    c.SetAnimate(true);
    c.TimerTick(nullptr);
    EXPECT_EQ(c.Timer()->Interval(), 50u); // delay 0 counts as 50 ms
    c.SetSpeed(0);
    EXPECT_EQ(c.Speed(), 1);
    EXPECT_EQ(c.Timer()->Interval(), 1u); // a new speed takes effect at the next tick
    c.TimerTick(nullptr);
    EXPECT_EQ(c.Timer()->Interval(), 5000u);

    TTestControl d;
    ASSERT_TRUE(d.Load(SolidAnimation(2, 4, 3, 10))); // 100 ms
    d.SetSpeed(200);
    d.SetAnimate(true);
    d.TimerTick(nullptr);
    EXPECT_EQ(d.Timer()->Interval(), 50u);
    EXPECT_EQ(d.Frames(1)->Delay(), 100);
}

TEST(animation, CurrentFrameBoundsAndEvents) {
    TTestControl c;
    Recorder r;
    r.Attach(c);
    int changes = 0;
    c.OnChange = [&](TObject*) { ++changes; };
    ASSERT_TRUE(c.Load(SolidAnimation(3)));
    changes = r.Changing = 0;
    for (int bad : {0, 4, -1}) {
        GIFErrorCode = 0;
        c.SetCurrentFrame(bad);
        EXPECT_EQ(GIFErrorCode, gifBadFrameIndex) << bad;
        EXPECT_EQ(c.CurrentFrame(), 1);
        EXPECT_EQ(ShownFrame(c), 1);
    }
    EXPECT_EQ(changes + r.Changing, 0);
    c.SetCurrentFrame(3);
    EXPECT_EQ(c.CurrentFrame(), 3);
    EXPECT_EQ(ShownFrame(c), 3);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(r.Changing, 1);
    // Animate off from a later frame goes back to frame 1.
    c.SetAnimate(true);
    c.SetAnimate(false);
    EXPECT_EQ(c.CurrentFrame(), 1);
    EXPECT_EQ(ShownFrame(c), 1);
    // An empty control has no frames to pick.
    TTestControl empty;
    GIFErrorCode = 0;
    empty.SetCurrentFrame(2);
    EXPECT_EQ(GIFErrorCode, gifBadFrameIndex);
}

TEST(animation, OnlyTheFirst256ImagesAreRead) {
    TTestControl c;
    ASSERT_TRUE(c.Load(SolidAnimation(257, 2, 2)));
    EXPECT_EQ(c.FrameCount(), TGIFImageControl::MaxFrames);
    EXPECT_EQ(GIFErrorCode, gifOk);
    c.SetCurrentFrame(256);
    EXPECT_EQ(c.Image()->Canvas()->Pixels(0, 0), TableColor(257 % 16)); // frame 256's index
    EXPECT_EQ(GIFErrorCode, gifOk);
}

TEST(animation, LoadFailures) {
    TTestControl c;
    ASSERT_TRUE(c.Load(SolidAnimation(2)));
    // A missing file: code 7, the loaded picture stays.
    EXPECT_FALSE(c.LoadFromFile("/nonexistent/dir/none.gif"));
    EXPECT_EQ(GIFErrorCode, gifFileNotFound);
    EXPECT_FALSE(c.Empty());
    c.SetFileName("/nonexistent/dir/none.gif");
    EXPECT_EQ(GIFErrorCode, gifFileNotFound);
    EXPECT_EQ(c.FileName(), "");

    // Data not starting with "GIF": empty afterwards.
    EXPECT_FALSE(c.Load({'G', 'I', 'X', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B}));
    EXPECT_EQ(GIFErrorCode, gifLoading);
    EXPECT_TRUE(c.Empty());
    EXPECT_EQ(c.FrameCount(), 0);
    EXPECT_EQ(c.Image(), nullptr);
    EXPECT_FALSE(c.DataStored());

    // No data at all.
    EXPECT_FALSE(c.Load({}));
    EXPECT_EQ(GIFErrorCode, gifNoData);

    // A header cut short, and a screen too large for any picture.
    EXPECT_FALSE(c.Load({'G', 'I', 'F', '8', '9', 'a', 1, 0}));
    EXPECT_FALSE(c.Load(giftest::Header(65535, 65535, 0)));
    EXPECT_TRUE(c.Empty());

    // A file that exists: FileName follows it.
    char name[] = "/tmp/gifcontrol_testXXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    const Bytes file = SolidAnimation(2);
    ASSERT_EQ(write(fd, file.data(), file.size()), ssize_t(file.size()));
    close(fd);
    c.SetFileName(name);
    EXPECT_EQ(GIFErrorCode, gifOk);
    EXPECT_EQ(c.FileName(), name);
    EXPECT_EQ(c.FrameCount(), 2);
    std::remove(name);
}

TEST(animation, ReadingStopsAtBrokenOrUnknownBlocksKeepingEarlierFrames) {
    // Frame 2 refused (code size 12): one frame, the image not enlarged by it.
    Bytes file = giftest::Header(4, 3, 8);
    Append(file, SolidImage(0, 0, 4, 3, 2));
    Bytes refused = SolidImage(0, 0, 4, 3, 3);
    refused[10] = 12;
    Append(file, refused);
    file.push_back(0x3B);
    TTestControl c;
    ASSERT_TRUE(c.Load(file));
    EXPECT_EQ(c.FrameCount(), 1);

    // Frame 2 claims 60000 x 60000 pixels: refused, so it cannot enlarge the picture.
    Bytes huge = giftest::Header(4, 3, 8);
    Append(huge, SolidImage(0, 0, 4, 3, 2));
    Bytes big = SolidImage(0, 0, 4, 3, 3);
    big[5] = big[7] = 0x60;
    big[6] = big[8] = 0xEA; // 60000
    Append(huge, big);
    ASSERT_TRUE(c.Load(huge));
    EXPECT_EQ(c.FrameCount(), 1);
    EXPECT_EQ(c.ImageWidth(), 4);
    EXPECT_EQ(c.ImageHeight(), 3);

    // An unknown extension label ends the reading.
    Bytes unknown = giftest::Header(4, 3, 8);
    Append(unknown, SolidImage(0, 0, 4, 3, 2));
    Append(unknown, {0x21, 0x02, 1, 0, 0});
    Append(unknown, SolidImage(0, 0, 4, 3, 3));
    ASSERT_TRUE(c.Load(unknown));
    EXPECT_EQ(c.FrameCount(), 1);

    // A file cut inside frame 2's data keeps frame 2 (its rest stays index 0).
    Bytes cut = SolidAnimation(2);
    cut.resize(cut.size() - 6);
    ASSERT_TRUE(c.Load(cut));
    EXPECT_EQ(c.FrameCount(), 2);

    // Comments and plain text extensions are passed; a frame larger than the screen
    // enlarges the picture.
    Bytes extras = giftest::Header(4, 3, 8);
    Append(extras, giftest::Comment("made by hand"));
    Append(extras, {0x21, 0x01, 12, 0, 0, 0, 0, 8, 0, 8, 0, 4, 4, 1, 0, 2, 'h', 'i', 0});
    Append(extras, SolidImage(3, 2, 5, 4, 2));
    extras.push_back(0x3B);
    ASSERT_TRUE(c.Load(extras));
    EXPECT_EQ(c.FrameCount(), 1);
    EXPECT_EQ(c.Frames(1)->Comment(), "made by hand");
    EXPECT_EQ(c.ImageWidth(), 8);
    EXPECT_EQ(c.ImageHeight(), 6);
}

TEST(animation, ProgressReportsAndItsStop) {
    const Bytes file = SolidAnimation(3);
    TTestControl c;
    std::vector<int> processed;
    int total = 0, lastPercent = -1;
    c.OnProgress = [&](TObject* Sender, int Done, int ToDo, int Percent, bool& Keep) {
        EXPECT_EQ(Sender, &c);
        EXPECT_TRUE(Keep);
        processed.push_back(Done);
        total = ToDo;
        lastPercent = Percent;
    };
    ASSERT_TRUE(c.Load(file));
    EXPECT_EQ(total, int(file.size()));
    ASSERT_GE(processed.size(), 4u); // one per block, and one at the end
    EXPECT_EQ(processed.back(), int(file.size()));
    EXPECT_EQ(lastPercent, 100);

    int calls = 0;
    c.OnProgress = [&](TObject*, int, int, int, bool& Keep) { Keep = ++calls < 3; };
    EXPECT_FALSE(c.Load(file));
    EXPECT_EQ(GIFErrorCode, gifStopped);
    EXPECT_EQ(calls, 3);
    EXPECT_TRUE(c.Empty());
    // The next load starts afresh.
    c.OnProgress = nullptr;
    EXPECT_TRUE(c.Load(file));
}

TEST(animation, DataPropertyRoundTrip) {
    const Bytes file = SolidAnimation(2);
    TTestControl source;
    EXPECT_FALSE(source.DataStored());
    ASSERT_TRUE(source.Load(file));
    EXPECT_TRUE(source.DataStored());
    TMemoryStream stored;
    source.WriteData(&stored);
    ASSERT_EQ(stored.Size(), std::int64_t(file.size() + 4));
    const auto* bytes = static_cast<const std::uint8_t*>(stored.Memory());
    EXPECT_EQ(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (bytes[3] << 24), int(file.size()));
    EXPECT_EQ(Bytes(bytes + 4, bytes + stored.Size()), file);

    // A control read from a form description loads its data once set up.
    TTestControl copy;
    stored.SetPosition(0);
    copy.ReadData(&stored);
    EXPECT_TRUE(copy.Empty());
    copy.Loaded();
    EXPECT_FALSE(copy.Empty());
    EXPECT_EQ(copy.FrameCount(), 2);

    // A stored size beyond the stream's bytes is a read error and adds nothing.
    TMemoryStream cut;
    const std::uint8_t head[] = {100, 0, 0, 0, 'G', 'I', 'F'};
    cut.WriteBuffer(head, sizeof head);
    cut.SetPosition(0);
    TTestControl broken;
    EXPECT_THROW(broken.ReadData(&cut), EReadError);
    EXPECT_FALSE(broken.DataStored());
    // Size 0 adds nothing.
    TMemoryStream zero;
    const std::uint8_t none[] = {0, 0, 0, 0};
    zero.WriteBuffer(none, sizeof none);
    zero.SetPosition(0);
    broken.ReadData(&zero);
    EXPECT_FALSE(broken.DataStored());
}

TEST(animation, AutoSizeResizesToTheImage) {
    TTestControl c;
    EXPECT_EQ(c.Width(), 105);
    EXPECT_EQ(c.Height(), 105);
    ASSERT_TRUE(c.Load(SolidAnimation(1, 32, 20)));
    EXPECT_EQ(c.Width(), 105);
    c.SetAutoSize(true);
    EXPECT_EQ(c.Width(), 32);
    EXPECT_EQ(c.Height(), 20);
    // With AutoSize on, every load sizes the control.
    ASSERT_TRUE(c.Load(SolidAnimation(1, 7, 9)));
    EXPECT_EQ(c.Width(), 7);
    EXPECT_EQ(c.Height(), 9);
}

TEST(animation, RealTimerPlaysOnTheGuiThread) {
    vt::test::Watchdog watchdog(20, "animation timer");
    for (bool threaded : {true, false}) {
        TTestControl c;
        c.SetThreaded(threaded);
        ASSERT_TRUE(c.Load(SolidAnimation(3)));
        c.SetSpeed(1000); // 5 ms frames
        int wraps = 0;
        c.OnWrapAnimation = [&](TObject*) { ++wraps; };
        c.SetAnimate(true);
        EXPECT_TRUE(vt::test::PumpUntil([&] { return wraps == 1; }, 5000)) << threaded;
        EXPECT_FALSE(c.Timer()->Enabled());
        EXPECT_EQ(ShownFrame(c), 3);
    }
}
