// libFuzzer target: any byte sequence loaded into the animated control either loads or
// fails quietly; playing and painting what loaded never crashes, hangs or reads out of
// bounds.

#include "PictureFuzz.h"
#include "gifcontrol/GIFImageControl.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr std::int64_t MaxPlayedPixels = std::int64_t{1} << 18;

// The control with its paint handling reachable, painting on a bitmap.
class TFuzzControl : public TGIFImageControl {
public:
    TFuzzControl() : TGIFImageControl(nullptr) { SetThreaded(false); }
    void PaintOn(TBitmap& Target) { HandlePaint(Target.Canvas()); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    TMemoryStream stream;
    FillStream(stream, Data, Size);
    TFuzzControl control;
    control.SetBounds(0, 0, 37, 23);
    if (!control.LoadFromStream(&stream)) return 0;
    // Playing and painting take the same paths for small pictures as for huge ones;
    // huge ones would only slow the search down.
    if (std::int64_t{control.ImageWidth()} * control.ImageHeight() > MaxPlayedPixels) return 0;
    control.SetLoop(true);
    control.SetAnimate(true);
    for (int i = 0; i <= control.FrameCount() + 1; ++i)
        control.TimerTick(nullptr);
    TBitmap target;
    target.SetSize(control.Width(), control.Height());
    control.PaintOn(target);
    control.PaintOn(target);
    control.SetStretchRatio(true);
    control.PaintOn(target);
    control.PaintOn(target);
    control.SetStretchRatio(false);
    control.SetTile(true);
    control.PaintOn(target);
    control.PaintOn(target);
    return 0;
}
