#pragma once
// The graphics device interface's plain types and functions: colours, rectangles,
// logical palettes, raster operations and the display's device capabilities.

#include "platform/runtime/WinTypes.h"

#include <cstdint>

// ---- Colours --------------------------------------------------------------------

// 0x00BBGGRR for an RGB colour; 0x01000000 + index selects an entry of the palette in
// force; 0x80000000 + COLOR_* names a system colour (resolved by ColorToRGB).
using TColor = std::int32_t;
using COLORREF = DWORD;

constexpr TColor RGB(BYTE r, BYTE g, BYTE b) {
    return static_cast<TColor>(r | (static_cast<DWORD>(g) << 8) | (static_cast<DWORD>(b) << 16));
}
constexpr BYTE GetRValue(DWORD c) {
    return static_cast<BYTE>(c & 0xFF);
}
constexpr BYTE GetGValue(DWORD c) {
    return static_cast<BYTE>((c >> 8) & 0xFF);
}
constexpr BYTE GetBValue(DWORD c) {
    return static_cast<BYTE>((c >> 16) & 0xFF);
}
constexpr TColor PALETTEINDEX(WORD index) {
    return static_cast<TColor>(0x01000000 | index);
}
constexpr TColor PALETTERGB(BYTE r, BYTE g, BYTE b) {
    return 0x02000000 | RGB(r, g, b);
}

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

// System colours (COLOR_* indexes with the top bit set).
constexpr TColor clSysColor = static_cast<TColor>(0x80000000);
constexpr TColor clScrollBar = clSysColor | 0;
constexpr TColor clBackground = clSysColor | 1;
constexpr TColor clActiveCaption = clSysColor | 2;
constexpr TColor clWindow = clSysColor | 5;
constexpr TColor clWindowFrame = clSysColor | 6;
constexpr TColor clWindowText = clSysColor | 8;
constexpr TColor clHighlight = clSysColor | 13;
constexpr TColor clHighlightText = clSysColor | 14;
constexpr TColor clBtnFace = clSysColor | 15;
constexpr TColor clBtnShadow = clSysColor | 16;
constexpr TColor clGrayText = clSysColor | 17;
constexpr TColor clBtnText = clSysColor | 18;
constexpr TColor clBtnHighlight = clSysColor | 20;
constexpr TColor cl3DDkShadow = clSysColor | 21;
constexpr TColor cl3DLight = clSysColor | 22;
constexpr TColor clInfoText = clSysColor | 23;
constexpr TColor clInfoBk = clSysColor | 24;

// The RGB value of a colour: system colours resolved, palette-relative flags dropped.
TColor ColorToRGB(TColor color);

// ---- Points and rectangles --------------------------------------------------------

struct TPoint {
    int X = 0;
    int Y = 0;
    bool operator==(const TPoint&) const = default;
};

// Right and Bottom are exclusive.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    bool operator==(const TRect&) const = default;
};

constexpr TPoint Point(int x, int y) {
    return TPoint{x, y};
}
constexpr TRect Rect(int left, int top, int right, int bottom) {
    return TRect{left, top, right, bottom};
}
constexpr TRect Bounds(int left, int top, int width, int height) {
    return TRect{left, top, left + width, top + height};
}

// ---- Palettes ---------------------------------------------------------------------

struct PALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
};
using TPaletteEntry = PALETTEENTRY;

// Allocated with room for palNumEntries entries (4 + 4 * count bytes).
struct LOGPALETTE {
    WORD palVersion; // 0x300
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[1];
};
using TLogPalette = LOGPALETTE;

// A logical palette with room for every entry a palette can have.
struct TMaxLogPalette {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[256];
};

constexpr WORD PaletteVersion = 0x300;
constexpr int MaxPaletteEntries = 256;

struct HPALETTE__;
using HPALETTE = HPALETTE__*;
using HGDIOBJ = void*;

// The caller owns the returned palette (DeleteObject). Null for a record that is
// missing, of the wrong version, or with no or more than 256 entries.
HPALETTE CreatePalette(const LOGPALETTE* logPalette);
// Frees a palette made by CreatePalette; false (and nothing else) for any other value,
// including a palette already deleted.
BOOL DeleteObject(HGDIOBJ object);
// Copies up to count entries from startIndex on; returns the number copied. With a
// null entries pointer returns the palette's entry count. 0 for an invalid palette.
UINT GetPaletteEntries(HPALETTE palette, UINT startIndex, UINT count, PALETTEENTRY* entries);
// A new palette with the same entries (the caller owns it); null for an invalid one.
HPALETTE CopyPalette(HPALETTE palette);

enum : int { DEFAULT_PALETTE = 15 };
// The stock default palette (the 20 static system colours); never deleted.
HGDIOBJ GetStockObject(int object);

// ---- Device-independent bitmaps --------------------------------------------------------

// The header of a device-independent bitmap: a negative height stores the top row first.
struct BITMAPINFOHEADER {
    DWORD biSize; // 40
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount; // 1 or 8 here
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

// A header with room for every colour entry an 8-bit bitmap can have (1064 bytes).
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[256];
};

constexpr DWORD BI_RGB = 0;

// ---- The display ------------------------------------------------------------------

// A device context names the display here; drawing goes through TCanvas.
struct HDC__;
using HDC = HDC__*;

// Every window shares the display's context.
HDC GetDC(HWND wnd);
int ReleaseDC(HWND wnd, HDC dc);

enum : int {
    HORZRES = 8,
    VERTRES = 10,
    BITSPIXEL = 12,
    PLANES = 14,
    NUMCOLORS = 24,
    RASTERCAPS = 38,
    LOGPIXELSX = 88,
    LOGPIXELSY = 90,
    SIZEPALETTE = 104,
    NUMRESERVED = 106,
};
enum : int {
    RC_BITBLT = 0x0001,
    RC_PALETTE = 0x0100,
    RC_DI_BITMAP = 0x0080,
    RC_STRETCHBLT = 0x0800,
};

// A true-colour display without a hardware palette: RASTERCAPS lacks RC_PALETTE and
// SIZEPALETTE is 0.
int GetDeviceCaps(HDC dc, int index);
// The hardware palette's entries; 0 on this display, which has none.
UINT GetSystemPaletteEntries(HDC dc, UINT startIndex, UINT count, PALETTEENTRY* entries);

// Background modes for text output.
enum : int { TRANSPARENT = 1, OPAQUE = 2 };

// ---- Raster operations --------------------------------------------------------------
// Ternary raster operations: bits 16-23 hold the result for each combination of
// pattern (brush), source and destination bits.

constexpr DWORD SRCCOPY = 0x00CC0020;      // S
constexpr DWORD SRCPAINT = 0x00EE0086;     // S | D
constexpr DWORD SRCAND = 0x008800C6;       // S & D
constexpr DWORD SRCINVERT = 0x00660046;    // S ^ D
constexpr DWORD SRCERASE = 0x00440328;     // S & ~D
constexpr DWORD NOTSRCCOPY = 0x00330008;   // ~S
constexpr DWORD NOTSRCERASE = 0x001100A6;  // ~(S | D)
constexpr DWORD MERGECOPY = 0x00C000CA;    // P & S
constexpr DWORD MERGEPAINT = 0x00BB0226;   // ~S | D
constexpr DWORD PATCOPY = 0x00F00021;      // P
constexpr DWORD PATPAINT = 0x00FB0A09;     // P | ~S | D
constexpr DWORD PATINVERT = 0x005A0049;    // P ^ D
constexpr DWORD DSTINVERT = 0x00550009;    // ~D
constexpr DWORD BLACKNESS = 0x00000042;    // 0
constexpr DWORD WHITENESS = 0x00FF0062;    // 1
constexpr DWORD DSTANDNOTSRC = 0x00220326; // D & ~S (blackens where a mask is set)

using TCopyMode = DWORD;
constexpr TCopyMode cmBlackness = BLACKNESS;
constexpr TCopyMode cmDstInvert = DSTINVERT;
constexpr TCopyMode cmMergeCopy = MERGECOPY;
constexpr TCopyMode cmMergePaint = MERGEPAINT;
constexpr TCopyMode cmNotSrcCopy = NOTSRCCOPY;
constexpr TCopyMode cmNotSrcErase = NOTSRCERASE;
constexpr TCopyMode cmPatCopy = PATCOPY;
constexpr TCopyMode cmPatInvert = PATINVERT;
constexpr TCopyMode cmPatPaint = PATPAINT;
constexpr TCopyMode cmSrcAnd = SRCAND;
constexpr TCopyMode cmSrcCopy = SRCCOPY;
constexpr TCopyMode cmSrcErase = SRCERASE;
constexpr TCopyMode cmSrcInvert = SRCINVERT;
constexpr TCopyMode cmSrcPaint = SRCPAINT;
constexpr TCopyMode cmWhiteness = WHITENESS;

// Clipboard format of a bitmap.
constexpr WORD CF_BITMAP = 2;
using THandle = std::uintptr_t;
