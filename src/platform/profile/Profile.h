#pragma once
// The private profile (INI) functions with Windows semantics: case-blind section and
// key names, values read with surrounding blanks removed, immediate writes that keep
// every other line of the file as it was. A file name without a directory lives in the
// user's configuration directory.

#include "platform/runtime/WinTypes.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Copies the value of `key` in `section` into `buffer` (cut to size - 1 characters and
// NUL-terminated); `defaultValue` when the file, section or key is missing. With a null
// key it lists the keys of the section, with a null section the section names, each
// NUL-terminated and the list ended by one more NUL. Returns the characters copied,
// not counting the final NUL.
DWORD GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                              char* buffer, DWORD size, const char* fileName);

// Stores `value` under `key` in `section`, creating file, section and key as needed.
// A null value removes the key, a null key the whole section. FALSE on failure, with
// errno telling why; the file is then left as it was.
BOOL WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* fileName);

namespace vt {

// Files beyond this size are read only up to it and never rewritten, so a stray huge
// file cannot exhaust memory.
constexpr std::size_t kMaxProfileFileSize = 16 * 1024 * 1024;

// Where the profile functions look for `fileName`: as given when it names a directory,
// otherwise in $XDG_CONFIG_HOME (when absolute), else in ~/.config.
std::string ProfilePath(std::string_view fileName);

// The value of a key, or nothing when the file, section or key is missing.
std::optional<std::string> ReadProfileValue(std::string_view fileName, std::string_view section,
                                            std::string_view key);

// Stores a value (nothing removes the key). False on failure, with errno set.
bool WriteProfileValue(std::string_view fileName, std::string_view section, std::string_view key,
                       std::optional<std::string_view> value);

// Removes every section of that name with all its lines. False on failure, errno set.
bool EraseProfileSection(std::string_view fileName, std::string_view section);

} // namespace vt
