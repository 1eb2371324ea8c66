#pragma once
// What the picture targets (GIF, JPEG, the animated control) share: the offscreen
// platform, a quiet error display, and the input as a stream. Included by one file per
// target, so the definitions below are each target's own.

#include "platform/messages/Application.h"
#include "platform/runtime/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

// fontconfig keeps its configuration for the life of the process once text has been
// drawn; that is no leak of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Errors of plain text extensions go to the error display: keep the output quiet.
    Application.SetErrorDisplay([](const std::string&, const std::string&) {});
    return 0;
}

// The fuzz input as a stream positioned at its start.
inline void FillStream(TMemoryStream& Stream, const std::uint8_t* Data, std::size_t Size) {
    if (Size > 0) Stream.WriteBuffer(Data, static_cast<std::int32_t>(Size));
    Stream.SetPosition(0);
}
