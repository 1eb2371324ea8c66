// The control's composed frames, pixel by pixel, against ImageMagick's -coalesce of the
// same files (made by ImageMagick, gifsicle and Pillow: tests/data/gifcontrol).
//
// Where ImageMagick's frame is opaque the control must show that colour with its mask
// (when it keeps one) saying opaque. Where ImageMagick's frame is transparent (no frame
// covered the pixel, or a disposal cleared it), the control's mask must say transparent.
//
// A file without transparent frames gives the control no mask: it shows its picture's
// background, black, where no frame lies. ImageMagick shows the screen's background
// colour there instead, opaque before the first disposal and transparent after one. For
// such files the test follows which pixels frames cover (rectangles, disposal 2 clears,
// disposal 3 restores) and expects black on the others.

#include "ControlTestSupport.h"

#include <gtest/gtest.h>

using namespace gifctest;

namespace {

struct Coalesced {
    int Width, Height, Frames;
    Bytes Rgba;
    const std::uint8_t* At(int Frame, int X, int Y) const {
        return Rgba.data() + ((std::size_t(Frame) * Height + Y) * Width + X) * 4;
    }
};

// Which screen pixels frames cover, frame after frame, by the GIF rules alone.
class Coverage {
public:
    Coverage(int W, int H) : FWidth(W), FCovered(std::size_t(W) * H, false) {}
    bool Covered(int X, int Y) const { return FCovered[std::size_t(Y) * FWidth + X]; }
    // Disposes of the frame shown before (if any) and covers Frame's rectangle.
    void Show(const TFrame* Previous, const TFrame& Frame) {
        if (Previous && Previous->Disposal() == 2) Set(*Previous, false);
        if (Previous && Previous->Disposal() == 3) FCovered = FSaved;
        if (Frame.Disposal() == 3) FSaved = FCovered;
        Set(Frame, true);
    }

private:
    void Set(const TFrame& F, bool Value) {
        for (int y = F.Top(); y < F.Top() + F.Height(); ++y)
            for (int x = F.Left(); x < F.Left() + F.Width(); ++x)
                FCovered[std::size_t(y) * FWidth + x] = Value;
    }
    int FWidth;
    std::vector<bool> FCovered, FSaved;
};

// Counts the pixels of the control's picture that differ from ImageMagick's frame.
int Mismatches(TTestControl& Control, const Coalesced& Ref, int Frame, std::string& First,
               const Coverage* Covered = nullptr) {
    int bad = 0;
    for (int y = 0; y < Ref.Height; ++y)
        for (int x = 0; x < Ref.Width; ++x) {
            const std::uint8_t* p = Ref.At(Frame, x, y);
            const bool opaque = Covered ? Covered->Covered(x, y) : p[3] == 255;
            const bool maskSaysTransparent =
                Control.Mask() && Control.Mask()->Canvas()->Pixels(x, y) == clWhite;
            const TColor shown = Control.Image()->Canvas()->Pixels(x, y);
            bool ok;
            if (opaque)
                ok = !maskSaysTransparent && shown == RGB(p[0], p[1], p[2]);
            else
                ok = Control.Mask() ? maskSaysTransparent : shown == clBlack;
            if (!ok && bad++ == 0)
                First = "frame " + std::to_string(Frame + 1) + " at " + std::to_string(x) + "," +
                        std::to_string(y) + (opaque ? " opaque" : " transparent");
        }
    return bad;
}

void CheckAgainstCoalesce(const std::string& Name, int ExpectedFrames) {
    SCOPED_TRACE(Name);
    TTestControl c;
    ASSERT_TRUE(c.LoadFromFile(DataPath(Name + ".gif")));
    ASSERT_EQ(c.FrameCount(), ExpectedFrames);
    Coalesced ref{c.ImageWidth(), c.ImageHeight(), ExpectedFrames,
                  ReadFile(DataPath(Name + ".rgba"))};
    ASSERT_EQ(ref.Rgba.size(), std::size_t(ref.Width) * ref.Height * 4 * ExpectedFrames)
        << "the screen sizes differ";

    // Frame 1 is composed by the load; the first tick only starts the clock; every
    // further tick disposes of the previous frame and composes the next.
    c.SetAnimate(true);
    c.TimerTick(nullptr);
    Coverage covered(ref.Width, ref.Height);
    for (int frame = 0; frame < ExpectedFrames; ++frame) {
        if (frame > 0) c.TimerTick(nullptr);
        covered.Show(c.Frames(frame), *c.Frames(frame + 1));
        std::string first;
        EXPECT_EQ(Mismatches(c, ref, frame, first, c.Mask() ? nullptr : &covered), 0) << first;
    }
}

} // namespace

TEST(composition, ImageMagickAllDisposalsTransparentAndOffsetFrames) {
    CheckAgainstCoalesce("im_mixed", 6);
}

TEST(composition, ImageMagickOpaqueFramesSmallerThanTheScreen) {
    TTestControl c;
    ASSERT_TRUE(c.LoadFromFile(DataPath("im_opaque.gif")));
    EXPECT_EQ(c.Mask(), nullptr);
    EXPECT_EQ(c.LoopCount(), 2); // ImageMagick's "-loop 3" writes the repeats: 2
    CheckAgainstCoalesce("im_opaque", 3);
}

TEST(composition, GifsicleTransparentDifferenceFrames) {
    CheckAgainstCoalesce("gifsicle_o3", 4);
}

TEST(composition, PillowTransparentFirstFrameAndRestores) {
    CheckAgainstCoalesce("pillow_disposal", 4);
}

TEST(composition, WrappingDisposesOfTheLastFrame) {
    // After the last frame of im_mixed (disposal 3) the animation wraps to frame 1:
    // the last frame is restored away and frame 1, full and opaque, covers everything.
    TTestControl c;
    ASSERT_TRUE(c.LoadFromFile(DataPath("im_mixed.gif")));
    Coalesced ref{40, 30, 6, ReadFile(DataPath("im_mixed.rgba"))};
    c.SetLoop(true);
    c.SetAnimate(true);
    for (int tick = 0; tick < 7; ++tick)
        c.TimerTick(nullptr);
    EXPECT_EQ(c.CurrentFrame(), 2); // frame 1 is on screen
    std::string first;
    EXPECT_EQ(Mismatches(c, ref, 0, first), 0) << first;
}
