#include "gifcontrol/FrameDecoder.h"

#include <algorithm>

using vt::lzw::CopyBlock;
using vt::lzw::TCodeReader;

TFrameDecoder::TFrameDecoder(const std::uint8_t* Data, std::size_t Size, int CodeSize)
    : FData(Data), FClear(1 << CodeSize), FCodeSize(CodeSize) {
    FReader.At = Data;
    FReader.End = Data + Size;
    // Only the literal entries are set up; the others are written before they are read.
    for (int i = 0; i < FClear; ++i) {
        FSuffix[i] = static_cast<std::uint16_t>(i);
        FFirstOf[i] = static_cast<std::uint8_t>(i);
    }
    ResetTable();
}

void TFrameDecoder::ResetTable() {
    FNext = FClear + 2;
    FLimit = 2 * FClear;
    FWidth = FCodeSize + 1;
    FAfterClear = true;
    // Literals above 255 do not fit the output's bytes: only the walk keeps their values.
    FRegular = FCodeSize <= 8;
}

std::size_t TFrameDecoder::Expand(std::uint8_t* Out, std::size_t Capacity, std::size_t Until) {
    // String positions are kept in 32 bits; a frame holds far fewer pixels.
    Capacity = std::min<std::size_t>(Capacity, UINT32_MAX);
    while (FResult == Running && FWritten < Until) {
        if (FRegular && !FAfterClear && FPending < 0)
            ExpandRegular(Out, Capacity, Until);
        else
            Step(Out, Capacity);
    }
    return FWritten;
}

// A new entry's string is the previous code's string plus the first value of the next,
// and those lie side by side in the output: a code is expanded by copying earlier output.
void TFrameDecoder::ExpandRegular(std::uint8_t* Out, std::size_t Capacity, std::size_t Until) {
    TCodeReader in = FReader; // in locals: the pixel stores could alias members
    const int clear = FClear;
    int width = FWidth;
    int next = FNext;
    int limit = FLimit;
    int old = FOld;
    auto first = static_cast<std::uint8_t>(FFirst);
    std::size_t written = FWritten;
    std::size_t previousAt = FPreviousAt;
    std::size_t previousLength = FPreviousLength;
    while (written < Until) {
        const int code = in.Read(width);
        if (code == TCodeReader::NoMoreData) {
            FResult = DataExhausted;
            break;
        }
        std::size_t n = 1;
        std::uint8_t value; // the string's first value
        if (code < clear) {
            value = static_cast<std::uint8_t>(code);
            if (written < Capacity) Out[written] = value;
        } else if (code == clear + 1) {
            FResult = EndCodeRead;
            break;
        } else if (code == clear || code > next) {
            FPending = code;
            break;
        } else {
            const bool definedNow = code == next; // the entry this code defines
            const std::size_t from = definedNow ? previousAt : FAt[code];
            n = definedNow ? previousLength + 1 : FLength[code];
            value = definedNow ? first : FFirstOf[code];
            if (written + n + CopyBlock <= Capacity) {
                vt::lzw::CopyString(Out + written, Out + from, n);
                // It ends with its own first value, which the block copy read too early.
                if (definedNow) Out[written + n - 1] = value;
            } else if (written < Capacity) {
                // Near the end: value by value, which also serves the entry being defined.
                const std::size_t fit = std::min(n, Capacity - written);
                for (std::size_t i = 0; i < fit; ++i)
                    Out[written + i] = Out[from + i];
            }
        }
        if (next < TableSize) { // a full table stays full until a clear code
            FPrefix[next] = static_cast<std::uint16_t>(old);
            FSuffix[next] = value;
            FFirstOf[next] = first;
            FAt[next] = static_cast<std::uint32_t>(previousAt);
            FLength[next] = static_cast<std::uint16_t>(previousLength + 1);
            if (++next >= limit && limit < TableSize) {
                limit <<= 1;
                ++width;
            }
        }
        old = code;
        first = value;
        previousAt = written;
        previousLength = n;
        written += n;
    }
    FReader = in;
    FWidth = width;
    FNext = next;
    FLimit = limit;
    FOld = old;
    FFirst = first;
    FWritten = written;
    FPreviousAt = previousAt;
    FPreviousLength = previousLength;
}

void TFrameDecoder::Step(std::uint8_t* Out, std::size_t Capacity) {
    int code = FPending >= 0 ? FPending : FReader.Read(FWidth);
    FPending = -1;
    while (code == FClear) {
        ResetTable();
        code = FReader.Read(FWidth);
    }
    if (code == TCodeReader::NoMoreData) {
        FResult = DataExhausted;
    } else if (code == FClear + 1) {
        FResult = EndCodeRead;
    } else if (FAfterClear) {
        StartAfterClear(Out, Capacity, code);
    } else {
        // A code beyond the table, or any code once the rules were broken.
        FRegular = false;
        Walk(Out, Capacity, code);
    }
}

void TFrameDecoder::StartAfterClear(std::uint8_t* Out, std::size_t Capacity, int Code) {
    // The first code after a clear is a pixel of its own and starts the chain, whatever
    // its value.
    FAfterClear = false;
    FOld = FFirst = Code;
    if (Code >= FClear) FRegular = false;
    FPreviousAt = FWritten;
    FPreviousLength = 1;
    Put(Out, Capacity, Code);
}

void TFrameDecoder::Walk(std::uint8_t* Out, std::size_t Capacity, int Code) {
    int sp = 0;
    const int incoming = Code;
    if (Code >= FNext) { // the string being defined, or a code beyond the table
        FStack[sp++] = static_cast<std::uint16_t>(FFirst);
        Code = FOld;
    }
    // Junk data can link entries into a cycle: the stack's size bounds the walk.
    while (Code >= FClear && sp < TableSize - 1) {
        const bool defined = Code < FNext; // an entry not defined since the last clear is 0
        FStack[sp++] = defined ? FSuffix[Code] : 0;
        Code = defined ? FPrefix[Code] : 0;
    }
    if (Code >= FClear) Code = 0;
    FFirst = FSuffix[Code];
    FStack[sp++] = static_cast<std::uint16_t>(FFirst);
    if (FNext < TableSize) AddEntry(FOld, FFirst);
    FOld = incoming;
    while (sp > 0)
        Put(Out, Capacity, FStack[--sp]);
}

void TFrameDecoder::AddEntry(int Prefix, int Suffix) {
    FPrefix[FNext] = static_cast<std::uint16_t>(Prefix);
    FSuffix[FNext] = static_cast<std::uint16_t>(Suffix);
    if (++FNext >= FLimit && FLimit < TableSize) {
        FLimit *= 2;
        ++FWidth;
    }
}

void TFrameDecoder::Put(std::uint8_t* Out, std::size_t Capacity, int Value) {
    if (FWritten < Capacity) {
        Out[FWritten] = static_cast<std::uint8_t>(Value);
        if (Value > 0xFF && (Value & 0xFF) == FTransparentIndex) {
            if (FOpaque.empty()) FOpaque.resize((Capacity + 63) / 64);
            FOpaque[FWritten / 64] |= std::uint64_t{1} << (FWritten % 64);
        }
    }
    ++FWritten;
}
