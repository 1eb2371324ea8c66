#pragma once
// The control reads a GIF file held in memory through a moving read pointer. Every read
// is bounded by the bytes held: nothing behind the data is ever touched.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

struct TReadPointer {
    const std::uint8_t* Begin = nullptr;
    const std::uint8_t* Pos = nullptr;
    const std::uint8_t* End = nullptr;

    TReadPointer() = default;
    TReadPointer(const void* Data, std::size_t Size)
        : Begin(static_cast<const std::uint8_t*>(Data)), Pos(Begin), End(Begin + Size) {}

    std::size_t Left() const { return static_cast<std::size_t>(End - Pos); }
    bool AtEnd() const { return Pos >= End; }
    // Bytes read so far, counted from the start of the file.
    std::int64_t Offset() const { return Pos - Begin; }
    // The byte at the pointer, or -1 at the end.
    int Peek(std::size_t Ahead = 0) const { return Ahead < Left() ? Pos[Ahead] : -1; }
    // Copies Count bytes and advances; false, with nothing moved, when fewer are held.
    bool Take(void* To, std::size_t Count) {
        if (Count > Left()) return false;
        std::memcpy(To, Pos, Count);
        Pos += Count;
        return true;
    }
    void Skip(std::size_t Count) { Pos += std::min(Count, Left()); }
    // Passes data sub-blocks up to and including the zero-length terminator, or to the
    // end of the data when it is missing.
    void SkipSubBlocks() {
        while (!AtEnd()) {
            const std::uint8_t length = *Pos++;
            if (length == 0) return;
            Skip(length);
        }
    }
};
