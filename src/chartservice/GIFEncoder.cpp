#include "chartservice/GIFEncoder.h"

#include "platform/runtime/Exceptions.h"

#include <algorithm>

namespace {

void PutWord(std::string& out, int value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

// Bits per palette index: the table holds 2^bits entries (at least 2 colours).
int PaletteBits(std::size_t colours) {
    int bits = 1;
    while ((std::size_t{1} << bits) < colours)
        ++bits;
    return bits;
}

} // namespace

std::string TGIFEncoder::Encode(int Width, int Height, const std::vector<TRgb>& Palette,
                                const std::vector<std::uint8_t>& Pixels) {
    if (Width < 1 || Height < 1 || Width > MaxSide || Height > MaxSide ||
        Pixels.size() != static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height))
        throw EInvalidGraphicOperation("Invalid picture size for a GIF file");
    if (Palette.empty() || Palette.size() > 256)
        throw EInvalidGraphicOperation("A GIF palette holds 1 to 256 colours");
    for (const std::uint8_t index : Pixels)
        if (index >= Palette.size())
            throw EInvalidGraphicOperation("Pixel index beyond the palette");

    const int bits = PaletteBits(Palette.size());
    std::string out = "GIF89a";
    out.reserve(out.size() + 13 + 3 * (std::size_t{1} << bits) + Pixels.size() / 2);
    // Logical screen: size, global table flag | colour resolution | table size, background,
    // no aspect ratio.
    PutWord(out, Width);
    PutWord(out, Height);
    out += static_cast<char>(0x80 | ((bits - 1) << 4) | (bits - 1));
    out += '\0';
    out += '\0';
    for (std::size_t i = 0; i < (std::size_t{1} << bits); ++i) {
        const TRgb c = i < Palette.size() ? Palette[i] : TRgb{};
        out += static_cast<char>(c.R);
        out += static_cast<char>(c.G);
        out += static_cast<char>(c.B);
    }
    // Image descriptor: at 0, 0, the whole screen, no local table, not interlaced.
    out += ',';
    PutWord(out, 0);
    PutWord(out, 0);
    PutWord(out, Width);
    PutWord(out, Height);
    out += '\0';
    const int minCodeSize = bits < 2 ? 2 : bits; // the format's smallest
    out += static_cast<char>(minCodeSize);
    TGIFEncoder encoder(out, minCodeSize);
    encoder.Compress(Pixels);
    out += '\0'; // block terminator
    out += ';';  // trailer
    return out;
}

TGIFEncoder::TGIFEncoder(std::string& Out, int MinCodeSize)
    : FOut(Out), FMinCodeSize(MinCodeSize), FClearCode(1 << MinCodeSize), FKeys(TableSize),
      FCodes(TableSize) {}

void TGIFEncoder::ResetTable() {
    std::fill(FKeys.begin(), FKeys.end(), -1);
    FCodeSize = FMinCodeSize + 1;
    FNextCode = FClearCode + 2;
}

int TGIFEncoder::Find(int Prefix, std::uint8_t Pixel) {
    const std::int32_t key = (Prefix << 8) | Pixel;
    int slot = static_cast<int>((static_cast<std::uint32_t>(key) * 2654435761u) % TableSize);
    while (FKeys[slot] != -1) {
        if (FKeys[slot] == key) return FCodes[slot];
        slot = slot + 1 == TableSize ? 0 : slot + 1;
    }
    FSlot = slot;
    return -1;
}

void TGIFEncoder::Compress(const std::vector<std::uint8_t>& Pixels) {
    ResetTable();
    PutCode(FClearCode);
    int prefix = Pixels[0];
    for (std::size_t i = 1; i < Pixels.size(); ++i) {
        const std::uint8_t pixel = Pixels[i];
        const int code = Find(prefix, pixel);
        if (code >= 0) {
            prefix = code;
            continue;
        }
        PutCode(prefix);
        if (FNextCode <= MaxCode) {
            FKeys[FSlot] = (prefix << 8) | pixel;
            FCodes[FSlot] = static_cast<std::int16_t>(FNextCode++);
            // The reader adds its entries one code later, so it widens when the code
            // after the one just added no longer fits.
            if (FNextCode > (1 << FCodeSize) && FCodeSize < 12) ++FCodeSize;
        } else {
            PutCode(FClearCode);
            ResetTable();
        }
        prefix = pixel;
    }
    PutCode(prefix);
    PutCode(FClearCode + 1); // end of information
    FlushBits();
    if (!FBlock.empty()) {
        FOut += static_cast<char>(FBlock.size());
        FOut += FBlock;
    }
}

void TGIFEncoder::PutCode(int Code) {
    FBits |= static_cast<std::uint32_t>(Code) << FBitCount;
    FBitCount += FCodeSize;
    while (FBitCount >= 8) {
        PutByte(static_cast<std::uint8_t>(FBits & 0xFF));
        FBits >>= 8;
        FBitCount -= 8;
    }
}

void TGIFEncoder::FlushBits() {
    if (FBitCount > 0) PutByte(static_cast<std::uint8_t>(FBits & 0xFF));
    FBits = 0;
    FBitCount = 0;
}

void TGIFEncoder::PutByte(std::uint8_t Byte) {
    FBlock += static_cast<char>(Byte);
    if (FBlock.size() == 255) {
        FOut += static_cast<char>(255);
        FOut += FBlock;
        FBlock.clear();
    }
}
