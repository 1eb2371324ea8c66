#include "platform/runtime/SysUtils.h"

#include "platform/runtime/Exceptions.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

std::string Format(const char* fmt, ...) {
    char small[256];
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small, sizeof small, fmt, args);
    va_end(args);
    std::string result;
    if (needed < 0) {
        va_end(again);
        throw EConvertError(std::string("Format '") + fmt +
                            "' invalid or incompatible with argument");
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        result.assign(small, static_cast<size_t>(needed));
    } else {
        result.resize(static_cast<size_t>(needed));
        std::vsnprintf(result.data(), result.size() + 1, fmt, again);
    }
    va_end(again);
    return result;
}

namespace vt {
std::string HexDigits(std::uint64_t value, int digits) {
    static constexpr char hex[] = "0123456789ABCDEF";
    char buf[16];
    int n = 0;
    do {
        buf[n++] = hex[value & 0xF];
        value >>= 4;
    } while (value != 0);
    std::string result;
    if (digits > n) result.assign(static_cast<size_t>(digits - n), '0');
    while (n > 0)
        result.push_back(buf[--n]);
    return result;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
} // namespace vt

namespace {

// Parses into a magnitude with the sign apart; hex is limited to HexBits bits and
// taken as two's complement, decimal to the signed range of the target.
bool ParseInteger(std::string_view s, int hexBits, std::int64_t minValue, std::int64_t maxValue,
                  std::int64_t& out) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    bool hex = false;
    if (i < s.size() && s[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == s.size()) return false;

    std::uint64_t magnitude = 0;
    if (hex) {
        const std::uint64_t limit =
            hexBits >= 64 ? std::numeric_limits<std::uint64_t>::max() : (1ULL << hexBits) - 1;
        for (; i < s.size(); ++i) {
            const int d = vt::HexValue(s[i]);
            if (d < 0 || magnitude > (limit >> 4)) return false;
            magnitude = magnitude << 4 | static_cast<unsigned>(d);
        }
        // Hex digits give the bit pattern of the target width.
        std::int64_t value;
        if (hexBits >= 64)
            value = static_cast<std::int64_t>(magnitude);
        else if (magnitude >> (hexBits - 1))
            value = static_cast<std::int64_t>(magnitude) - (std::int64_t{1} << hexBits);
        else
            value = static_cast<std::int64_t>(magnitude);
        if (negative) {
            if (value == minValue) return false; // its negation does not fit
            value = -value;
        }
        out = value;
        return value >= minValue && value <= maxValue;
    }
    const std::uint64_t limit = negative ? static_cast<std::uint64_t>(-(minValue + 1)) + 1
                                         : static_cast<std::uint64_t>(maxValue);
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        const unsigned d = static_cast<unsigned>(s[i] - '0');
        if (magnitude > (limit - d) / 10) return false;
        magnitude = magnitude * 10 + d;
    }
    out = negative ? static_cast<std::int64_t>(0ULL - magnitude)
                   : static_cast<std::int64_t>(magnitude);
    return true;
}

[[noreturn]] void ConvertError(std::string_view s) {
    throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
}

char UpCase(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}
char LoCase(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool IsPathDelimiter(char c) {
    return c == '/' || c == '\\' || c == ':';
}

} // namespace

bool TryStrToInt(std::string_view S, int& Value) {
    std::int64_t v;
    if (!ParseInteger(S, 32, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), v))
        return false;
    Value = static_cast<int>(v);
    return true;
}

bool TryStrToInt64(std::string_view S, std::int64_t& Value) {
    return ParseInteger(S, 64, std::numeric_limits<std::int64_t>::min(),
                        std::numeric_limits<std::int64_t>::max(), Value);
}

int StrToInt(std::string_view S) {
    int v;
    if (!TryStrToInt(S, v)) ConvertError(S);
    return v;
}

std::int64_t StrToInt64(std::string_view S) {
    std::int64_t v;
    if (!TryStrToInt64(S, v)) ConvertError(S);
    return v;
}

int StrToIntDef(std::string_view S, int Default) {
    int v;
    return TryStrToInt(S, v) ? v : Default;
}

std::string UpperCase(std::string_view S) {
    std::string r(S);
    for (char& c : r)
        c = UpCase(c);
    return r;
}

std::string LowerCase(std::string_view S) {
    std::string r(S);
    for (char& c : r)
        c = LoCase(c);
    return r;
}

int CompareText(std::string_view S1, std::string_view S2) {
    const size_t n = std::min(S1.size(), S2.size());
    for (size_t i = 0; i < n; ++i) {
        const auto a = static_cast<unsigned char>(UpCase(S1[i]));
        const auto b = static_cast<unsigned char>(UpCase(S2[i]));
        if (a != b) return a < b ? -1 : 1;
    }
    return S1.size() == S2.size() ? 0 : (S1.size() < S2.size() ? -1 : 1);
}

bool SameText(std::string_view S1, std::string_view S2) {
    return S1.size() == S2.size() && CompareText(S1, S2) == 0;
}

int CompareStr(std::string_view S1, std::string_view S2) {
    const int c = S1.compare(S2); // compares as unsigned bytes
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

namespace {
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}
} // namespace

std::string TrimLeft(std::string_view S) {
    size_t b = 0;
    while (b < S.size() && IsBlank(S[b]))
        ++b;
    return std::string(S.substr(b));
}

std::string TrimRight(std::string_view S) {
    size_t e = S.size();
    while (e > 0 && IsBlank(S[e - 1]))
        --e;
    return std::string(S.substr(0, e));
}

std::string Trim(std::string_view S) {
    size_t b = 0;
    size_t e = S.size();
    while (b < e && IsBlank(S[b]))
        ++b;
    while (e > b && IsBlank(S[e - 1]))
        --e;
    return std::string(S.substr(b, e - b));
}

int Pos(std::string_view Sub, std::string_view S) {
    return PosEx(Sub, S, 1);
}

int PosEx(std::string_view Sub, std::string_view S, int Offset) {
    if (Sub.empty() || Offset < 1 || static_cast<size_t>(Offset) > S.size()) return 0;
    const size_t found = S.find(Sub, static_cast<size_t>(Offset - 1));
    return found == std::string_view::npos ? 0 : static_cast<int>(found) + 1;
}

std::string Copy(std::string_view S, int Index, int Count) {
    if (Index < 1) Index = 1;
    if (Count <= 0 || static_cast<size_t>(Index) > S.size()) return {};
    return std::string(S.substr(static_cast<size_t>(Index - 1), static_cast<size_t>(Count)));
}

bool FileExists(const std::string& FileName) {
    struct stat st {};
    return !FileName.empty() && ::stat(FileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& Name) {
    struct stat st {};
    return !Name.empty() && ::stat(Name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& FileName) {
    return !FileName.empty() && ::unlink(FileName.c_str()) == 0;
}

bool RenameFile(const std::string& OldName, const std::string& NewName) {
    if (OldName.empty() || NewName.empty()) return false;
    if (::renameat2(AT_FDCWD, OldName.c_str(), AT_FDCWD, NewName.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without no-replace renames: check first (racy, but never worse).
    struct stat st {};
    if (::lstat(NewName.c_str(), &st) == 0) return false;
    return ::rename(OldName.c_str(), NewName.c_str()) == 0;
}

namespace {
size_t NameStart(std::string_view FileName) {
    size_t i = FileName.size();
    while (i > 0 && !IsPathDelimiter(FileName[i - 1]))
        --i;
    return i;
}

// Index of the extension's '.', or npos when the name part has none.
size_t ExtStart(std::string_view FileName) {
    const size_t start = NameStart(FileName);
    const size_t dot = FileName.rfind('.');
    return dot != std::string_view::npos && dot >= start ? dot : std::string_view::npos;
}
} // namespace

std::string ExtractFileName(std::string_view FileName) {
    return std::string(FileName.substr(NameStart(FileName)));
}

std::string ExtractFilePath(std::string_view FileName) {
    return std::string(FileName.substr(0, NameStart(FileName)));
}

std::string ExtractFileExt(std::string_view FileName) {
    const size_t dot = ExtStart(FileName);
    return dot == std::string_view::npos ? std::string() : std::string(FileName.substr(dot));
}

std::string ChangeFileExt(std::string_view FileName, std::string_view Extension) {
    const size_t dot = ExtStart(FileName);
    std::string result(FileName.substr(0, dot == std::string_view::npos ? FileName.size() : dot));
    result.append(Extension);
    return result;
}

DWORD GetTickCount() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms); // wraps at 2^32 like the Windows counter
}

void Sleep(DWORD Milliseconds) {
    if (Milliseconds == 0) {
        ::sched_yield();
        return;
    }
    timespec left{static_cast<time_t>(Milliseconds / 1000),
                  static_cast<long>(Milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

DWORD SleepEx(DWORD Milliseconds, BOOL /*Alertable*/) {
    Sleep(Milliseconds);
    return 0;
}
