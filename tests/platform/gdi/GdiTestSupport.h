#pragma once
// Small helpers shared by the graphics tests.

#include "platform/gdi/Bitmap.h"
#include "platform/gdi/GdiTypes.h"

#include <array>
#include <cstdlib>
#include <initializer_list>
#include <string>

namespace vt::test {

using Rgb = std::array<BYTE, 3>;

// A palette with the given entries (the caller owns it).
inline HPALETTE MakePalette(std::initializer_list<Rgb> colors) {
    TMaxLogPalette log{PaletteVersion, static_cast<WORD>(colors.size()), {}};
    int i = 0;
    for (const Rgb& c : colors)
        log.palPalEntry[i++] = {c[0], c[1], c[2], 0};
    return CreatePalette(reinterpret_cast<const LOGPALETTE*>(&log));
}

// A bitmap of one format and size, filled with one colour through its canvas.
inline void Prepare(TBitmap& bitmap, TPixelFormat format, int width, int height, TColor fill) {
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    bitmap.Canvas()->Brush()->SetColor(fill);
    bitmap.Canvas()->FillRect(Rect(0, 0, width, height));
}

// The test data folder: under VT_SOURCE_DIR when set, else found from this file's own
// place in the source tree (tests/platform/gdi).
inline std::string TestDataDir() {
    if (const char* dir = std::getenv("VT_SOURCE_DIR")) return std::string(dir) + "/tests/data";
    const std::string file = __FILE__;
    return file.substr(0, file.rfind("/platform/gdi/")) + "/data";
}

} // namespace vt::test
