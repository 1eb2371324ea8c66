#pragma once
// Helpers that build GIF byte sequences by hand for the decoder and reader tests.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace giftest {

using Bytes = std::vector<std::uint8_t>;

// Packs (code, width) pairs least significant bit first, as GIF code streams are.
inline Bytes PackCodes(const std::vector<std::pair<int, int>>& Codes) {
    Bytes out;
    std::uint32_t buffer = 0;
    int bits = 0;
    for (auto [code, width] : Codes) {
        buffer |= std::uint32_t(code) << bits;
        bits += width;
        while (bits >= 8) {
            out.push_back(static_cast<std::uint8_t>(buffer));
            buffer >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) out.push_back(static_cast<std::uint8_t>(buffer));
    return out;
}

// A code stream of literal codes only, with the code widths a decoder tracks: every
// code after the first of a table adds an entry; the width grows when the next entry
// reaches 2^width; at 4096 entries a clear code follows, unless Deferred, in which case
// coding goes on at 12 bits with the table full.
inline std::vector<std::pair<int, int>> LiteralCodes(const Bytes& Pixels, int CodeSize,
                                                     bool Deferred = false) {
    const int clear = 1 << CodeSize;
    std::vector<std::pair<int, int>> codes;
    int width = CodeSize + 1;
    int next = clear + 2;
    bool first = true;
    codes.push_back({clear, width});
    for (std::uint8_t p : Pixels) {
        codes.push_back({p, width});
        if (first) {
            first = false;
            continue;
        }
        if (next >= 4096) continue; // table full, deferred clear
        ++next;
        if (next >= (1 << width)) {
            if (width < 12) {
                ++width;
            } else if (!Deferred) {
                codes.push_back({clear, width});
                width = CodeSize + 1;
                next = clear + 2;
                first = true;
            }
        }
    }
    codes.push_back({clear + 1, width});
    return codes;
}

// A code stream as encoders write it: greedy LZW (the longest string in the table, then
// a new entry for it plus the next pixel), a clear code when the table is full. Widths
// follow the decoder, which defines each entry one code later than the encoder.
inline std::vector<std::pair<int, int>> LzwCodes(const Bytes& Pixels, int CodeSize) {
    const int clear = 1 << CodeSize;
    std::map<std::pair<int, int>, int> table;
    int width = CodeSize + 1;
    int next = clear + 2;
    std::vector<std::pair<int, int>> codes = {{clear, width}};
    auto define = [&] {
        if (++next > (1 << width)) ++width;
    };
    int prefix = -1;
    for (std::uint8_t p : Pixels) {
        if (prefix < 0) {
            prefix = p;
            continue;
        }
        if (auto it = table.find({prefix, p}); it != table.end()) {
            prefix = it->second;
            continue;
        }
        codes.push_back({prefix, width});
        table[{prefix, p}] = next;
        define();
        if (next == 4096) {
            codes.push_back({clear, width});
            table.clear();
            width = CodeSize + 1;
            next = clear + 2;
        }
        prefix = p;
    }
    if (prefix >= 0) {
        codes.push_back({prefix, width});
        define(); // the decoder's entry for the last code may widen the end code
    }
    codes.push_back({clear + 1, width});
    return codes;
}

// Data split into sub-blocks of at most 255 bytes, with the terminator.
inline Bytes SubBlocks(const Bytes& Data, std::size_t Chunk = 255) {
    Bytes out;
    for (std::size_t at = 0; at < Data.size(); at += Chunk) {
        std::size_t n = std::min(Chunk, Data.size() - at);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), Data.begin() + at, Data.begin() + at + n);
    }
    out.push_back(0);
    return out;
}

inline void Append(Bytes& To, const Bytes& What) {
    To.insert(To.end(), What.begin(), What.end());
}
inline void Word(Bytes& To, int Value) {
    To.push_back(static_cast<std::uint8_t>(Value));
    To.push_back(static_cast<std::uint8_t>(Value >> 8));
}

// "GIF89a", logical screen descriptor and, with TableBits > 0, a global table of
// 2^TableBits entries whose entry i is (i, 2i, 3i) mod 256.
inline Bytes Header(int Width, int Height, int TableBits) {
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    Word(out, Width);
    Word(out, Height);
    out.push_back(TableBits > 0 ? static_cast<std::uint8_t>(0x80 | (TableBits - 1)) : 0);
    out.push_back(0); // background index
    out.push_back(0); // aspect ratio
    for (int i = 0; i < (TableBits > 0 ? 1 << TableBits : 0); ++i) {
        out.push_back(static_cast<std::uint8_t>(i));
        out.push_back(static_cast<std::uint8_t>(2 * i));
        out.push_back(static_cast<std::uint8_t>(3 * i));
    }
    return out;
}

// An image: descriptor at (0,0), optional local table flags, code size byte and the code
// stream in sub-blocks.
inline Bytes Image(int Width, int Height, int CodeSize, const Bytes& CodeStream,
                   std::uint8_t Flags = 0, const Bytes& LocalTable = {}) {
    Bytes out = {0x2C};
    Word(out, 0);
    Word(out, 0);
    Word(out, Width);
    Word(out, Height);
    out.push_back(Flags);
    Append(out, LocalTable);
    out.push_back(static_cast<std::uint8_t>(CodeSize));
    Append(out, SubBlocks(CodeStream));
    return out;
}

// A graphic control extension with the given delay in hundredths of a second.
inline Bytes GraphicControl(int DelayTime) {
    Bytes out = {0x21, 0xF9, 4, 0};
    Word(out, DelayTime);
    out.push_back(0); // transparent index
    out.push_back(0); // terminator
    return out;
}

inline Bytes Comment(const std::string& Text) {
    Bytes out = {0x21, 0xFE};
    Append(out, SubBlocks(Bytes(Text.begin(), Text.end())));
    return out;
}

} // namespace giftest
