#pragma once
// The blocks of a GIF file as the reader keeps them: colour tables, the four
// extensions, the image descriptor and the raw image data.

#include "platform/gdi/GdiTypes.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Streams.h"
#include "platform/runtime/StringList.h"

#include <cstdint>
#include <memory>

class TGIFData;

class TColorTable : public TObject {
public:
    // Reads ASize bytes (red, green, blue per entry) from the stream's position; 0 stays
    // empty. A stream that ends first raises EReadError.
    TColorTable(TStream* Stream, int ASize);

    int Count() const { return FCount; }
    const std::uint8_t* Entries() const { return FEntries.get(); }
    // EListError "Index %d out of range [0..%d]" outside 0..Count-1.
    void GetEntry(int Index, std::uint8_t& Red, std::uint8_t& Green, std::uint8_t& Blue) const;
    // red + green * 256 + blue * 65536
    std::uint32_t GetColor(int Index) const;
    // A new logical palette of the entries (the caller owns it), nullptr when empty. On
    // a display with a hardware palette a 16-entry table takes the 16 static colours.
    HPALETTE CreatePalette() const;

private:
    int FCount = 0;
    std::unique_ptr<std::uint8_t[]> FEntries;
};

class TGIFExtension : public TObject {};

// Label 0xF9: the frame's delay (and flags that do not affect display).
class TGraphicControlExtension : public TGIFExtension {
public:
    static constexpr std::uint8_t Label = 0xF9;
    explicit TGraphicControlExtension(TGIFData* Data);

    std::uint8_t Flags = 0;
    std::uint16_t DelayTime = 0; // hundredths of a second
    std::uint8_t TransparentIndex = 0;
};

// Label 0x01: text drawn onto the frame.
class TPlainTextExtension : public TGIFExtension {
public:
    static constexpr std::uint8_t Label = 0x01;
    explicit TPlainTextExtension(TGIFData* Data);

    std::uint16_t GridLeft = 0;
    std::uint16_t GridTop = 0;
    std::uint16_t GridWidth = 0;
    std::uint16_t GridHeight = 0;
    std::uint8_t CellWidth = 0;
    std::uint8_t CellHeight = 0;
    std::uint8_t ForegroundIndex = 0;
    std::uint8_t BackgroundIndex = 0;
    TStringList Text; // one string per sub-block
};

// Label 0xFF: kept, not interpreted.
class TApplicationExtension : public TGIFExtension {
public:
    static constexpr std::uint8_t Label = 0xFF;
    explicit TApplicationExtension(TGIFData* Data);

    std::uint8_t Identifier[8] = {};
    std::uint8_t AuthCode[3] = {};
    TMemoryStream Data; // the sub-blocks' bytes without their length bytes
};

// Label 0xFE: kept, not interpreted.
class TCommentExtension : public TGIFExtension {
public:
    static constexpr std::uint8_t Label = 0xFE;
    explicit TCommentExtension(TGIFData* Data);

    TStringList Comments; // one string per sub-block
};

class TImageDescriptor : public TObject {
public:
    // Reads the descriptor from the stream just behind the 0x2C separator, then the
    // local colour table when there is one.
    explicit TImageDescriptor(TGIFData* Data);

    std::uint16_t Left = 0;
    std::uint16_t Top = 0;
    std::uint16_t Width = 0;
    std::uint16_t Height = 0;
    std::uint8_t Flags = 0;
    // The local table (owned) or the global one (borrowed, may be nullptr).
    TColorTable* ColorTable = nullptr;

    bool HasLocalColorTable() const { return (Flags & 0x80) != 0; }
    bool Interlaced() const { return (Flags & 0x40) != 0; }
    int LocalColorTableSize() const { return HasLocalColorTable() ? 3 << ((Flags & 7) + 1) : 0; }

private:
    std::unique_ptr<TColorTable> FLocalColorTable;
};

class TRasterData : public TObject {
public:
    explicit TRasterData(TGIFData* Data);

    std::uint8_t CodeSize = 0;
    TMemoryStream Data; // all image data sub-blocks, concatenated
};
