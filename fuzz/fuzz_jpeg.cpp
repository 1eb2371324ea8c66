// libFuzzer target: any byte sequence loaded as a JPEG picture either loads or raises one
// of the framework's exceptions; nothing crashes, hangs or reads out of bounds.

#include "platform/gdi/JPEGImage.h"
#include "platform/messages/Application.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    Application.SetErrorDisplay([](const std::string&, const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    TMemoryStream stream;
    if (Size > 0) stream.WriteBuffer(Data, static_cast<std::int32_t>(Size));
    stream.SetPosition(0);
    TJPEGImage image;
    try {
        image.LoadFromStream(&stream);
        image.Width();
        image.Height();
    } catch (const Exception&) {
    }
    return 0;
}
