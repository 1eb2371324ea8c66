// libFuzzer target: any byte sequence loaded as a JPEG picture either loads or raises one
// of the framework's exceptions; nothing crashes, hangs or reads out of bounds.

#include "PictureFuzz.h"
#include "platform/gdi/JPEGImage.h"
#include "platform/runtime/Exceptions.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    TMemoryStream stream;
    FillStream(stream, Data, Size);
    TJPEGImage image;
    try {
        image.LoadFromStream(&stream);
        image.Width();
        image.Height();
    } catch (const Exception&) {
    }
    return 0;
}
