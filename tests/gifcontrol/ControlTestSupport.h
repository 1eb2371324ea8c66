#pragma once
// Helpers of the animated-control tests: hand-built GIF files and a control whose paint
// handling can be run on a bitmap.

#include "gif/GifBytes.h"
#include "gifcontrol/GIFImageControl.h"
#include "platform/gdi/Bitmap.h"
#include "platform/runtime/Streams.h"

#include <string>
#include <vector>

namespace gifctest {

using giftest::Bytes;

// The control with its paint handling and Loaded reachable from tests.
class TTestControl : public TGIFImageControl {
public:
    TTestControl() : TGIFImageControl(nullptr) { SetThreaded(false); }
    using TGIFImageControl::HandlePaint;
    using TGIFImageControl::Loaded;
    using TGIFImageControl::Parse;

    // Runs the paint handling on Target until it paints (a change of the paint style
    // asks for a fresh paint first); Target's origin is the control's top left.
    void PaintOn(TBitmap& Target) {
        for (int i = 0; i < 2; ++i) {
            const bool wasOpaque = Opaque();
            HandlePaint(Target.Canvas());
            if (Opaque() == wasOpaque) return;
        }
    }
    bool Load(const Bytes& File) {
        TMemoryStream s;
        if (!File.empty()) s.WriteBuffer(File.data(), static_cast<std::int32_t>(File.size()));
        return LoadFromStream(&s);
    }
};

// A graphic control extension: flags (disposal << 2 | transparent), delay, index.
inline Bytes Gce(int Disposal, bool Transparent, int Delay = 0, int Index = 0) {
    Bytes out = {0x21, 0xF9, 4, std::uint8_t((Disposal << 2) | (Transparent ? 1 : 0))};
    giftest::Word(out, Delay);
    out.push_back(std::uint8_t(Index));
    out.push_back(0);
    return out;
}

// The "NETSCAPE" "2.0" application extension with a loop count.
inline Bytes Netscape(int Loops) {
    Bytes out = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1};
    giftest::Word(out, Loops);
    out.push_back(0);
    return out;
}

// An image at (Left, Top) filled with one palette index (code size 4).
inline Bytes SolidImage(int Left, int Top, int Width, int Height, int Index) {
    Bytes img =
        giftest::Image(Width, Height, 4,
                       giftest::PackCodes(giftest::LiteralCodes(Bytes(Width * Height, Index), 4)));
    img[1] = std::uint8_t(Left);
    img[2] = std::uint8_t(Left >> 8);
    img[3] = std::uint8_t(Top);
    img[4] = std::uint8_t(Top >> 8);
    return img;
}

// Colour of index i of giftest::Header's global table.
inline TColor TableColor(int i) {
    return RGB(BYTE(i), BYTE(2 * i), BYTE(3 * i));
}

// A Width x Height file of Count full-screen frames; frame k (1-based) has index k + 1
// everywhere and the given delay (hundredths).
inline Bytes SolidAnimation(int Count, int Width = 4, int Height = 3, int Delay = 0,
                            int Loops = -1) {
    Bytes file = giftest::Header(Width, Height, 8);
    if (Loops >= 0) giftest::Append(file, Netscape(Loops));
    for (int k = 1; k <= Count; ++k) {
        giftest::Append(file, Gce(1, false, Delay));
        giftest::Append(file, SolidImage(0, 0, Width, Height, (k + 1) % 16));
    }
    file.push_back(0x3B);
    return file;
}

std::string DataPath(const std::string& Name);
Bytes ReadFile(const std::string& Path);

} // namespace gifctest
