#include "gif/GIFBlocks.h"

#include "gif/GIFData.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SysUtils.h"

#include <algorithm>
#include <cstring>

TColorTable::TColorTable(TStream* Stream, int ASize) {
    if (ASize <= 0) return;
    FEntries = std::make_unique<std::uint8_t[]>(ASize);
    Stream->ReadBuffer(FEntries.get(), ASize);
    FCount = ASize / 3;
}

void TColorTable::GetEntry(int Index, std::uint8_t& Red, std::uint8_t& Green,
                           std::uint8_t& Blue) const {
    if (Index < 0 || Index >= FCount)
        throw EListError(Format("Index %d out of range [0..%d]", Index, FCount - 1));
    const std::uint8_t* entry = FEntries.get() + 3 * Index;
    Red = entry[0];
    Green = entry[1];
    Blue = entry[2];
}

std::uint32_t TColorTable::GetColor(int Index) const {
    std::uint8_t red, green, blue;
    GetEntry(Index, red, green, blue);
    return red + green * 256u + blue * 65536u;
}

HPALETTE TColorTable::CreatePalette() const {
    if (FCount <= 0) return nullptr;
    const int entryCount = FCount > MaxPaletteEntries ? MaxPaletteEntries : FCount;
    TMaxLogPalette record; // only the entries in use are filled
    record.palVersion = PaletteVersion;
    record.palNumEntries = static_cast<WORD>(entryCount);

    HDC dc = GetDC(nullptr); // every window shares the display's context
    const int systemSize = GetDeviceCaps(dc, SIZEPALETTE);
    if (entryCount == 16 && systemSize >= 16) {
        std::fill_n(record.palPalEntry, 16, PALETTEENTRY{});
        GetSystemPaletteEntries(dc, 0, 8, record.palPalEntry);
        GetSystemPaletteEntries(dc, systemSize - 8, 8, record.palPalEntry + 8);
    } else {
        const std::uint8_t* entry = FEntries.get();
        for (int i = 0; i < entryCount; ++i, entry += 3)
            record.palPalEntry[i] = {entry[0], entry[1], entry[2], 0};
    }
    ReleaseDC(nullptr, dc);
    return ::CreatePalette(reinterpret_cast<const LOGPALETTE*>(&record));
}

TGraphicControlExtension::TGraphicControlExtension(TGIFData* Data) {
    std::uint8_t block[4] = {Flags, 0, 0, TransparentIndex};
    Data->ReadBlock(block, sizeof block);
    Flags = block[0];
    DelayTime = static_cast<std::uint16_t>(block[1] | block[2] << 8);
    TransparentIndex = block[3];
    Data->SkipSubBlocks();
}

TPlainTextExtension::TPlainTextExtension(TGIFData* Data) {
    std::uint8_t block[12] = {};
    Data->ReadBlock(block, sizeof block);
    auto word = [&](int at) { return static_cast<std::uint16_t>(block[at] | block[at + 1] << 8); };
    GridLeft = word(0);
    GridTop = word(2);
    GridWidth = word(4);
    GridHeight = word(6);
    CellWidth = block[8];
    CellHeight = block[9];
    ForegroundIndex = block[10];
    BackgroundIndex = block[11];
    Data->ReadStrings(&Text);
}

TApplicationExtension::TApplicationExtension(TGIFData* Data) {
    std::uint8_t block[11] = {};
    Data->ReadBlock(block, sizeof block);
    std::memcpy(Identifier, block, sizeof Identifier);
    std::memcpy(AuthCode, block + sizeof Identifier, sizeof AuthCode);
    Data->ReadSubBlocks(&this->Data);
}

TCommentExtension::TCommentExtension(TGIFData* Data) {
    Data->ReadStrings(&Comments);
}

TImageDescriptor::TImageDescriptor(TGIFData* Data) {
    std::uint8_t block[9]; // left, top, width, height (2 bytes each), flags
    Data->ReadBytes(block, sizeof block);
    auto word = [&](int at) { return static_cast<std::uint16_t>(block[at] | block[at + 1] << 8); };
    Left = word(0);
    Top = word(2);
    Width = word(4);
    Height = word(6);
    Flags = block[8];
    if (HasLocalColorTable()) {
        FLocalColorTable = std::make_unique<TColorTable>(Data->Stream(), LocalColorTableSize());
        ColorTable = FLocalColorTable.get();
    } else {
        ColorTable = Data->GlobalColorTable();
    }
}

TRasterData::TRasterData(TGIFData* Data) {
    CodeSize = Data->ReadByte();
    Data->ReadSubBlocks(&this->Data);
}
