// libFuzzer target: any byte sequence loaded as a GIF file either loads or raises one of
// the framework's exceptions; nothing crashes, hangs or reads out of bounds.

#include "PictureFuzz.h"
#include "gif/GIFImage.h"
#include "platform/runtime/Exceptions.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    TMemoryStream stream;
    FillStream(stream, Data, Size);
    TGIFImage image;
    try {
        image.LoadFromStream(&stream);
        for (int i = 0; i < image.FrameCount(); ++i)
            image.SetCurrentFrame(i);
    } catch (const Exception&) {
    }
    return 0;
}
