#pragma once
// The LZW decoder of the animated control's frames, over an image's code stream joined
// from its sub-blocks. It reads tolerantly: a code beyond the table decodes like the code
// being defined, a full table stays full until a clear code, the end of the data ends the
// image, and junk that links entries into cycles is bounded. What encoders write is
// expanded by copying earlier output; from the first code that breaks the rules up to the
// next clear code, strings are expanded by walking the table instead.

#include "gif/LzwCodes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class TFrameDecoder {
public:
    static constexpr int TableSize = 4096;
    // How the code stream ended.
    static constexpr int Running = 0;
    static constexpr int DataExhausted = -1;
    static constexpr int EndCodeRead = -2;

    // Data (Size bytes) stays the caller's; CodeSize is 0..11.
    TFrameDecoder(const std::uint8_t* Data, std::size_t Size, int CodeSize);
    TFrameDecoder(const TFrameDecoder&) = delete;
    TFrameDecoder& operator=(const TFrameDecoder&) = delete;

    void SetTransparentIndex(int Index) { FTransparentIndex = Index; }

    // Decodes on until Until pixels are coded in all, or the stream ends, and returns the
    // pixels coded so far. They go to Out in coded order as their low 8 bits; those at or
    // beyond Capacity are dropped. Bytes of Out behind the coded pixels may be overwritten.
    std::size_t Expand(std::uint8_t* Out, std::size_t Capacity, std::size_t Until);
    // Running while codes may follow, else how the stream ended.
    int Result() const { return FResult; }
    // Bytes of the data read so far.
    std::size_t Consumed() const { return static_cast<std::size_t>(FReader.At - FData); }
    // A coded pixel whose low 8 bits are the transparent index but whose value is not
    // (junk data, or code sizes above 8, give values above 255).
    bool Opaque(std::size_t Position) const {
        return Position / 64 < FOpaque.size() && (FOpaque[Position / 64] >> (Position % 64)) & 1;
    }

private:
    void ResetTable();
    // Runs while the codes follow the rules; stops for the others (FPending).
    void ExpandRegular(std::uint8_t* Out, std::size_t Capacity, std::size_t Until);
    // One code the careful way, with the clear and end codes.
    void Step(std::uint8_t* Out, std::size_t Capacity);
    void StartAfterClear(std::uint8_t* Out, std::size_t Capacity, int Code);
    void Walk(std::uint8_t* Out, std::size_t Capacity, int Code);
    void Put(std::uint8_t* Out, std::size_t Capacity, int Value);
    void AddEntry(int Prefix, int Suffix);

    const std::uint8_t* FData;
    vt::lzw::TCodeReader FReader;
    const int FClear;
    const int FCodeSize;
    int FNext = 0;
    int FLimit = 0;
    int FWidth = 0;
    int FOld = 0;
    int FFirst = 0; // the first value of the previous code's string
    bool FAfterClear = true;
    // The strings since the last clear all lie in the output: copies serve.
    bool FRegular = true;
    int FPending = -1; // a code read by the fast loop for the careful step
    int FResult = Running;
    int FTransparentIndex = -1;
    std::size_t FWritten = 0;
    std::size_t FPreviousAt = 0;        // where the previous code's string was written
    std::size_t FPreviousLength = 0;    // and its length
    std::vector<std::uint64_t> FOpaque; // bit per pixel, made on the first one

    // The table: every entry as prefix code and last value; for the copies also where its
    // string was written, its length and its first value. Entries at or beyond FNext are
    // stale and never read.
    std::uint16_t FPrefix[TableSize];
    std::uint16_t FSuffix[TableSize];
    std::uint32_t FAt[TableSize];
    std::uint16_t FLength[TableSize];
    std::uint8_t FFirstOf[TableSize];
    std::uint16_t FStack[TableSize];
};
