#pragma once
// The Windows integer types and handles the system's code is written against.

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using LONG = std::int32_t;
using BOOL = int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT_PTR = std::uintptr_t;

// A window handle is an opaque number that is never reused, so a stale handle is
// recognised as gone instead of reaching a newer window.
struct HWND__;
using HWND = HWND__*;

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

constexpr WORD LOWORD(LPARAM v) {
    return static_cast<WORD>(static_cast<std::uintptr_t>(v) & 0xFFFF);
}
constexpr WORD HIWORD(LPARAM v) {
    return static_cast<WORD>((static_cast<std::uintptr_t>(v) >> 16) & 0xFFFF);
}
constexpr LPARAM MAKELONG(WORD low, WORD high) {
    return static_cast<LPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}
