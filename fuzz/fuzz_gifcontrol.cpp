// libFuzzer target: any byte sequence loaded into the animated control either loads or
// fails quietly; playing and painting what loaded never crashes, hangs or reads out of
// bounds.

#include "gifcontrol/GIFImageControl.h"
#include "platform/messages/Application.h"
#include "platform/runtime/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

// The control with its paint handling reachable, painting on a bitmap.
class TFuzzControl : public TGIFImageControl {
public:
    TFuzzControl() : TGIFImageControl(nullptr) { SetThreaded(false); }
    void PaintOn(TBitmap& Target) { HandlePaint(Target.Canvas()); }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    Application.SetErrorDisplay([](const std::string&, const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    TMemoryStream stream;
    if (Size > 0) stream.WriteBuffer(Data, static_cast<std::int32_t>(Size));
    TFuzzControl control;
    control.SetBounds(0, 0, 37, 23);
    if (!control.LoadFromStream(&stream)) return 0;
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
