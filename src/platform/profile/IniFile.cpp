#include "platform/profile/IniFile.h"

#include "platform/profile/Profile.h"
#include "platform/runtime/Exceptions.h"

#include <cstdint>

namespace vt {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

bool ConvertProfileInteger(const std::string& text, int& value) {
    std::size_t pos = text.find_first_not_of(" \t");
    if (pos == std::string::npos) return false;
    if (text[pos] == '$') {
        // Hexadecimal is a 32-bit pattern: $FFFFFFFF is -1.
        std::uint32_t bits = 0;
        if (++pos == text.size()) return false;
        for (; pos < text.size(); ++pos) {
            const int digit = HexDigit(text[pos]);
            if (digit < 0 || bits > 0x0FFFFFFFu) return false;
            bits = bits << 4 | static_cast<std::uint32_t>(digit);
        }
        value = static_cast<int>(bits);
        return true;
    }
    const bool negative = text[pos] == '-';
    if (text[pos] == '-' || text[pos] == '+') ++pos;
    if (pos == text.size()) return false;
    std::int64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        if (text[pos] < '0' || text[pos] > '9') return false;
        magnitude = magnitude * 10 + (text[pos] - '0');
        if (magnitude > std::int64_t{INT32_MAX} + 1) return false;
    }
    if (!negative && magnitude > INT32_MAX) return false;
    value = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

} // namespace vt

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& defaultValue) const {
    char buffer[kMaxValueLength + 1];
    const DWORD length =
        GetPrivateProfileString(section.c_str(), ident.c_str(), defaultValue.c_str(), buffer,
                                sizeof buffer, FFileName.c_str());
    return std::string(buffer, length);
}

void TIniFile::WriteString(const std::string& section, const std::string& ident,
                           const std::string& value) {
    if (!vt::WriteProfileValue(FFileName, section, ident, value)) RaiseWriteError();
}

int TIniFile::ReadInteger(const std::string& section, const std::string& ident,
                          int defaultValue) const {
    std::string text = ReadString(section, ident, "");
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.replace(0, 2, "$");
    }
    int value = 0;
    return vt::ConvertProfileInteger(text, value) ? value : defaultValue;
}

void TIniFile::WriteInteger(const std::string& section, const std::string& ident, int value) {
    WriteString(section, ident, std::to_string(value));
}

void TIniFile::DeleteKey(const std::string& section, const std::string& ident) {
    if (!vt::WriteProfileValue(FFileName, section, ident, std::nullopt)) RaiseWriteError();
}

void TIniFile::EraseSection(const std::string& section) {
    if (!vt::EraseProfileSection(FFileName, section)) RaiseWriteError();
}

void TIniFile::RaiseWriteError() const {
    throw EIniFileException("Unable to write to " + FFileName);
}
