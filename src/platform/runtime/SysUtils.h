#pragma once
// String, number and file helpers with the framework's semantics: 8-bit byte strings,
// positions counted from 1, ASCII-only case rules, Windows-style tick counter.

#include "platform/runtime/WinTypes.h"

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

using AnsiString = std::string;

// The line break the system writes into texts and files.
inline constexpr const char* sLineBreak = "\r\n";

// printf-style formatting into a string (pass std::string arguments with .c_str()).
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

namespace vt {
std::string HexDigits(std::uint64_t value, int digits);
// The value of a hexadecimal digit of either case, or -1.
int HexValue(char c);
} // namespace vt

template <std::integral T> std::string IntToStr(T Value) {
    return std::to_string(Value);
}

// Upper-case hex of the value's two's complement at its own width, zero-padded to at
// least Digits digits: IntToHex(-1, 2) == "FFFFFFFF" for an int.
template <std::integral T> std::string IntToHex(T Value, int Digits) {
    using U = std::make_unsigned_t<T>;
    return vt::HexDigits(static_cast<std::uint64_t>(static_cast<U>(Value)), Digits);
}

// Leading blanks, then an optional sign, then decimal digits or "$"/"0x"/"0X" and hex
// digits; nothing may follow. Hex may span the full 32 bits ("$FFFFFFFF" is -1).
// Failures raise EConvertError "'<S>' is not a valid integer value".
int StrToInt(std::string_view S);
std::int64_t StrToInt64(std::string_view S);
int StrToIntDef(std::string_view S, int Default);
bool TryStrToInt(std::string_view S, int& Value);
bool TryStrToInt64(std::string_view S, std::int64_t& Value);

// Only 'a'..'z' / 'A'..'Z' change; other bytes stay as they are.
std::string UpperCase(std::string_view S);
std::string LowerCase(std::string_view S);
// ASCII case-blind comparison: < 0, 0 or > 0 (letters compare as upper case).
int CompareText(std::string_view S1, std::string_view S2);
bool SameText(std::string_view S1, std::string_view S2);
// Case-sensitive byte comparison: < 0, 0 or > 0.
int CompareStr(std::string_view S1, std::string_view S2);

// Remove control characters and blanks (bytes <= ' ') from the ends.
std::string Trim(std::string_view S);
std::string TrimLeft(std::string_view S);
std::string TrimRight(std::string_view S);

// 1-based index of the first Sub in S, 0 when absent or when Sub is empty.
int Pos(std::string_view Sub, std::string_view S);
// The same, starting the search at 1-based Offset; 0 when Offset is out of range.
int PosEx(std::string_view Sub, std::string_view S, int Offset = 1);
// Count bytes from 1-based Index. Index below 1 counts as 1; past the end or a
// negative Count gives an empty string; Count is cut at the end of S.
std::string Copy(std::string_view S, int Index, int Count);

// File functions. FileExists is false for directories. RenameFile never replaces an
// existing NewName (it fails instead, so no file is lost by accident).
bool FileExists(const std::string& FileName);
bool DirectoryExists(const std::string& Name);
bool DeleteFile(const std::string& FileName);
bool RenameFile(const std::string& OldName, const std::string& NewName);

// File name parts; both '/' and '\\' separate directories, ':' ends a drive.
std::string ExtractFileName(std::string_view FileName); // after the last separator
std::string ExtractFilePath(std::string_view FileName); // up to and including it
std::string ExtractFileExt(std::string_view FileName);  // from the last '.' of the name
std::string ChangeFileExt(std::string_view FileName, std::string_view Extension);

// Milliseconds since an arbitrary start, monotonic, wrapping at 2^32.
DWORD GetTickCount();
// Sleep(0) gives up the rest of the time slice.
void Sleep(DWORD Milliseconds);
// Alertable waits do not exist here; returns 0 like an unalerted wait.
DWORD SleepEx(DWORD Milliseconds, BOOL Alertable);
