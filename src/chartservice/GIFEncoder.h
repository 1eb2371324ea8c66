#pragma once
// TGIFEncoder: writes one palette picture as a GIF89a file (global colour table, one
// image, LZW-compressed pixels).

#include <cstdint>
#include <string>
#include <vector>

struct TRgb {
    std::uint8_t R = 0;
    std::uint8_t G = 0;
    std::uint8_t B = 0;
    bool operator==(const TRgb&) const = default;
};

class TGIFEncoder {
public:
    // The largest code the format allows; the table starts afresh when it is full.
    static constexpr int MaxCode = 4095;
    static constexpr int MaxSide = 65535;

    // Palette: 1 to 256 colours; Pixels: Width * Height palette indexes, top row first.
    // Raises EInvalidGraphicOperation when the sizes do not fit or an index has no colour.
    static std::string Encode(int Width, int Height, const std::vector<TRgb>& Palette,
                              const std::vector<std::uint8_t>& Pixels);

private:
    TGIFEncoder(std::string& Out, int MinCodeSize);
    void Compress(const std::vector<std::uint8_t>& Pixels);
    void ResetTable();
    // The code for Prefix followed by Pixel, or -1 (its slot in FSlot) when unknown.
    int Find(int Prefix, std::uint8_t Pixel);
    void PutCode(int Code);
    void FlushBits();
    void PutByte(std::uint8_t Byte);

    static constexpr int TableSize = 8191; // prime, twice the codes: short probe runs

    std::string& FOut;
    int FMinCodeSize;
    int FClearCode;
    int FCodeSize = 0;
    int FNextCode = 0;
    std::uint32_t FBits = 0;
    int FBitCount = 0;
    std::string FBlock; // the data sub-block being filled (at most 255 bytes)
    std::vector<std::int32_t> FKeys;
    std::vector<std::int16_t> FCodes;
    int FSlot = 0;
};
