#include "chartservice/GifCheck.h"

#include "gif/GIFData.h"
#include "gif/GIFImage.h"
#include "platform/gdi/Bitmap.h"
#include "platform/runtime/Streams.h"
#include "support/Peers.h"

#include <cstdlib>

namespace vt::test {

TDecodedGif DecodeWithOurReader(const std::string& gif) {
    TDecodedGif result;
    try {
        InitializeGifImg();
        TMemoryStream stream;
        stream.WriteBuffer(gif.data(), static_cast<std::int32_t>(gif.size()));
        stream.SetPosition(0);
        TGIFImage image;
        image.LoadFromStream(&stream);
        TBitmap* bitmap = image.GIFData()->FrameBitmap(0);
        result.Width = bitmap->Width();
        result.Height = bitmap->Height();
        PALETTEENTRY entries[256] = {};
        GetPaletteEntries(bitmap->Palette(), 0, 256, entries);
        for (int y = 0; y < result.Height; ++y) {
            const auto* row = static_cast<const std::uint8_t*>(bitmap->ScanLine(y));
            for (int x = 0; x < result.Width; ++x) {
                result.Indexes.push_back(row[x]);
                const PALETTEENTRY& e = entries[row[x]];
                result.Rgb.insert(result.Rgb.end(), {e.peRed, e.peGreen, e.peBlue});
            }
        }
    } catch (const std::exception& error) {
        result.Error = error.what();
    }
    return result;
}

TDecodedGif DecodeWithPillow(const std::string& gif) {
    TDecodedGif result;
    const std::string dir = MakeTempDir("vt-pillow");
    WriteFile(dir + "/in.gif", gif);
    // Width and height (16-bit little-endian), the indexes, then the colours.
    WriteFile(dir + "/decode.py",
              "import sys\n"
              "from PIL import Image\n"
              "im = Image.open(sys.argv[1]); im.load()\n"
              "assert im.mode == 'P', im.mode\n"
              "w, h = im.size\n"
              "with open(sys.argv[2], 'wb') as out:\n"
              "    out.write(w.to_bytes(2, 'little') + h.to_bytes(2, 'little'))\n"
              "    out.write(im.tobytes())\n"
              "    out.write(im.convert('RGB').tobytes())\n");
    // Debian's interpreter, which has Debian's Pillow (another python3 may be first in PATH).
    const std::string command = "/usr/bin/python3 " + dir + "/decode.py " + dir + "/in.gif " + dir +
                                "/out.bin 2>" + dir + "/err.txt";
    if (std::system(command.c_str()) != 0) {
        result.Error = "Pillow failed: " + ReadFile(dir + "/err.txt");
    } else {
        const std::string raw = ReadFile(dir + "/out.bin");
        const auto* p = reinterpret_cast<const std::uint8_t*>(raw.data());
        if (raw.size() >= 4) {
            result.Width = p[0] | p[1] << 8;
            result.Height = p[2] | p[3] << 8;
        }
        const std::size_t pixels = std::size_t(result.Width) * result.Height;
        if (raw.size() != 4 + 4 * pixels) {
            result.Error = "Pillow wrote " + std::to_string(raw.size()) + " bytes";
        } else {
            result.Indexes.assign(p + 4, p + 4 + pixels);
            result.Rgb.assign(p + 4 + pixels, p + raw.size());
        }
    }
    RemoveTree(dir);
    return result;
}

} // namespace vt::test
