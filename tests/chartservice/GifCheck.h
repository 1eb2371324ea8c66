#pragma once
// Decoding a GIF file twice, with the project's reader and with an outside decoder
// (Pillow), into palette indexes and colours, so tests can compare both pixel by pixel.

#include <cstdint>
#include <string>
#include <vector>

namespace vt::test {

struct TDecodedGif {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint8_t> Indexes; // one per pixel, top row first
    std::vector<std::uint8_t> Rgb;     // red, green, blue per pixel
    std::string Error;                 // why decoding failed; empty on success
};

// The first frame as the project's GIF reader decodes it.
TDecodedGif DecodeWithOurReader(const std::string& Gif);
// The file as Pillow decodes it (Debian's python3-pil, run in a child process).
TDecodedGif DecodeWithPillow(const std::string& Gif);

} // namespace vt::test
