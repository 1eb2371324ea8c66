// Logical palettes as handles, the stock default palette, system colours and the
// display's capabilities.

#include "platform/gdi/GdiTypes.h"

#include <algorithm>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace vt {
namespace {

struct PaletteObject {
    std::vector<PALETTEENTRY> Entries;
};

// Live palettes, so a stale or foreign handle is refused instead of dereferenced.
// Palettes may be made and freed on worker threads, hence the lock.
std::mutex& PaletteLock() {
    static std::mutex lock;
    return lock;
}
std::unordered_set<PaletteObject*>& LivePalettes() {
    static std::unordered_set<PaletteObject*> live;
    return live;
}

// The 20 static colours of the system palette: 10 at each end.
constexpr PALETTEENTRY SystemColors[20] = {
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},
    {0, 0, 128, 0},     {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0},
    {192, 220, 192, 0}, {166, 202, 240, 0}, {255, 251, 240, 0}, {160, 160, 164, 0},
    {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},     {255, 255, 0, 0},
    {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
};

HPALETTE Register(PaletteObject* object) {
    std::lock_guard guard(PaletteLock());
    LivePalettes().insert(object);
    return reinterpret_cast<HPALETTE>(object);
}

PaletteObject* DefaultPalette() {
    static PaletteObject* palette = [] {
        auto* object = new PaletteObject{{std::begin(SystemColors), std::end(SystemColors)}};
        Register(object);
        return object;
    }();
    return palette;
}

// Runs f on the live palette behind handle; returns fallback for anything else.
template <class F, class R> R WithPalette(HPALETTE handle, R fallback, F f) {
    DefaultPalette();
    std::lock_guard guard(PaletteLock());
    auto* object = reinterpret_cast<PaletteObject*>(handle);
    if (!handle || !LivePalettes().contains(object)) return fallback;
    return f(*object);
}

} // namespace
} // namespace vt

HPALETTE CreatePalette(const LOGPALETTE* logPalette) {
    if (!logPalette || logPalette->palVersion != PaletteVersion) return nullptr;
    const int count = logPalette->palNumEntries;
    if (count < 1 || count > MaxPaletteEntries) return nullptr;
    auto* object =
        new vt::PaletteObject{{logPalette->palPalEntry, logPalette->palPalEntry + count}};
    return vt::Register(object);
}

BOOL DeleteObject(HGDIOBJ object) {
    auto* palette = static_cast<vt::PaletteObject*>(object);
    if (!palette || palette == vt::DefaultPalette()) return false;
    {
        std::lock_guard guard(vt::PaletteLock());
        if (vt::LivePalettes().erase(palette) == 0) return false;
    }
    delete palette;
    return true;
}

UINT GetPaletteEntries(HPALETTE palette, UINT startIndex, UINT count, PALETTEENTRY* entries) {
    return vt::WithPalette(palette, UINT{0}, [&](const vt::PaletteObject& object) {
        const auto size = static_cast<UINT>(object.Entries.size());
        if (!entries) return size;
        if (startIndex >= size) return UINT{0};
        const UINT n = std::min(count, size - startIndex);
        std::copy_n(object.Entries.begin() + startIndex, n, entries);
        return n;
    });
}

HPALETTE CopyPalette(HPALETTE palette) {
    auto* copy = vt::WithPalette(
        palette, static_cast<vt::PaletteObject*>(nullptr),
        [](const vt::PaletteObject& object) { return new vt::PaletteObject{object.Entries}; });
    return copy ? vt::Register(copy) : nullptr;
}

HGDIOBJ GetStockObject(int object) {
    return object == DEFAULT_PALETTE ? static_cast<HGDIOBJ>(vt::DefaultPalette()) : nullptr;
}

TColor ColorToRGB(TColor color) {
    if ((color & clSysColor) == 0) return color & 0xFFFFFF;
    switch (color & 0xFF) {
    case 1:
        return RGB(0, 0, 0); // desktop
    case 2:
        return RGB(153, 180, 209); // active caption
    case 5:
        return clWhite; // window
    case 13:
        return RGB(0, 120, 215); // highlight
    case 14:
        return clWhite; // highlighted text
    case 15:
        return RGB(240, 240, 240); // button face
    case 16:
        return RGB(160, 160, 160); // button shadow
    case 17:
        return RGB(109, 109, 109); // grey text
    case 20:
        return clWhite; // button highlight
    case 21:
        return RGB(105, 105, 105); // 3D dark shadow
    case 22:
        return RGB(227, 227, 227); // 3D light
    case 24:
        return RGB(255, 255, 225); // tooltip background
    case 0:
        return RGB(200, 200, 200); // scroll bar
    default:
        return clBlack; // texts, frames
    }
}

// ---- The display -----------------------------------------------------------------

namespace {
HDC DisplayDC() {
    static int display;
    return reinterpret_cast<HDC>(&display);
}
} // namespace

HDC GetDC(HWND) {
    return DisplayDC();
}

int ReleaseDC(HWND, HDC dc) {
    return dc == DisplayDC() ? 1 : 0;
}

int GetDeviceCaps(HDC dc, int index) {
    if (dc != DisplayDC()) return 0;
    switch (index) {
    case HORZRES:
        return 1920;
    case VERTRES:
        return 1080;
    case BITSPIXEL:
        return 32;
    case PLANES:
        return 1;
    case NUMCOLORS:
        return -1;
    case RASTERCAPS:
        return RC_BITBLT | RC_DI_BITMAP | RC_STRETCHBLT;
    case LOGPIXELSX:
    case LOGPIXELSY:
        return 96;
    case SIZEPALETTE:
    case NUMRESERVED:
        return 0;
    default:
        return 0;
    }
}

UINT GetSystemPaletteEntries(HDC, UINT, UINT, PALETTEENTRY*) {
    return 0;
}
