#pragma once
// The two inner pieces of GIF's LZW decoding that the picture class and the animated
// control share: reading codes from joined data, and copying an earlier string of the
// output in blocks.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vt::lzw {

// Strings are copied in blocks of this many bytes, so a block may run past a string's
// end; the output needs this much room behind a string for the fast copy.
constexpr std::size_t CopyBlock = 16;

// Codes of joined data, least significant bit first, taken from a 64-bit buffer that is
// refilled with up to 8 bytes at a time.
struct TCodeReader {
    static constexpr int NoMoreData = -1; // the data ends before the code is complete

    const std::uint8_t* At = nullptr;
    const std::uint8_t* End = nullptr;
    std::uint64_t Bits = 0;
    int Count = 0; // bits of Bits that are unread

    int Read(int Width) {
        if (Count < Width) {
            if (End - At >= 8) {
                // Whole bytes only; the part of a byte that does not fit is loaded again
                // next time at the same bit position, so or-ing it twice changes nothing.
                Bits |= LoadLittleEndian64(At) << Count;
                At += (63 - Count) >> 3;
                Count |= 56;
            } else {
                do {
                    if (At == End) return NoMoreData;
                    Bits |= std::uint64_t{*At++} << Count;
                    Count += 8;
                } while (Count < Width);
            }
        }
        const int code = static_cast<int>(Bits & ((std::uint64_t{1} << Width) - 1));
        Bits >>= Width;
        Count -= Width;
        return code;
    }

    static std::uint64_t LoadLittleEndian64(const std::uint8_t* P) {
        std::uint64_t v;
        std::memcpy(&v, P, sizeof v);
        if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
        return v;
    }
};

// Copies Length bytes that lie wholly before To, in whole blocks: each block is loaded
// before it is stored, so the bytes past the string that a block drags along are
// overwritten later and never read as part of a string. A string that ends with its own
// first byte (the entry being defined) gets that last byte wrong and must set it after.
inline void CopyString(std::uint8_t* To, const std::uint8_t* From, std::size_t Length) {
    const std::uint8_t* const end = To + Length;
    do {
        std::uint64_t a, b;
        std::memcpy(&a, From, 8);
        std::memcpy(&b, From + 8, 8);
        std::memcpy(To, &a, 8);
        std::memcpy(To + 8, &b, 8);
        To += CopyBlock;
        From += CopyBlock;
    } while (To < end);
}

} // namespace vt::lzw
