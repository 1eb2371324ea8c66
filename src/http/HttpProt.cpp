#include "http/HttpProt.h"

#include "platform/runtime/SysUtils.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

constexpr const char* DayNames = "MonTueWedThuFriSatSun";
constexpr const char* MonthNames = "JanFebMarAprMayJunJulAugSepOctNovDec";
constexpr std::int64_t MSecsPerDay = 86400000;
// Days from 1 March of year 0 (proleptic Gregorian) to 30 December 1899, day 0 of
// the date serial.
constexpr std::int64_t SerialEpochFromMarch0 = 693899;

bool StartsWithText(std::string_view S, std::string_view Prefix) {
    return S.size() >= Prefix.size() && SameText(S.substr(0, Prefix.size()), Prefix);
}

// Bytes from 1-based Index to the end ("" past the end).
std::string_view From(std::string_view S, size_t Index) {
    return Index - 1 < S.size() ? S.substr(Index - 1) : std::string_view{};
}

void SplitAuthority(std::string_view Authority, std::string& User, std::string& Pass,
                    std::string& Host, std::string& Port, std::string& Path) {
    const size_t slash = Authority.find('/');
    std::string_view rest = Authority;
    if (slash != std::string_view::npos) {
        Path = Authority.substr(slash);
        rest = Authority.substr(0, slash);
    }
    const size_t colon = rest.rfind(':');
    const size_t at = rest.rfind('@');
    if (colon == std::string_view::npos && at == std::string_view::npos) {
        Host = rest;
        return;
    }
    std::string_view userPart;
    if (at == std::string_view::npos || (colon != std::string_view::npos && colon > at)) {
        Port = rest.substr(colon + 1);
        const size_t hostStart = at == std::string_view::npos ? 0 : at + 1;
        Host = rest.substr(hostStart, colon - hostStart);
        if (at == std::string_view::npos) return;
        userPart = rest.substr(0, at);
    } else {
        // A ":" before the "@" belongs to the credentials, never to a port.
        Host = rest.substr(at + 1);
        userPart = rest.substr(0, at);
    }
    const size_t split = userPart.find(':');
    if (split == std::string_view::npos) {
        User = userPart;
    } else {
        User = userPart.substr(0, split);
        Pass = userPart.substr(split + 1);
    }
}

// Proleptic Gregorian date of a day count from 30 December 1899.
void CivilFromSerialDay(std::int64_t Day, int& Year, int& Month, int& DayOfMonth) {
    const std::int64_t z = Day + SerialEpochFromMarch0;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    DayOfMonth = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    Year = static_cast<int>(yoe + era * 400 + (Month <= 2 ? 1 : 0));
}

} // namespace

void SplitURL(std::string_view URL, std::string& Proto, std::string& User, std::string& Pass,
              std::string& Host, std::string& Port, std::string& Path) {
    Proto.clear();
    User.clear();
    Pass.clear();
    Host.clear();
    Port.clear();
    Path.clear();
    if (URL.empty()) return;

    std::string_view authority;
    const size_t scheme = URL.find("://");
    if (scheme != std::string_view::npos) {
        Proto = URL.substr(0, scheme);
        authority = URL.substr(scheme + 3);
    } else if (URL[0] == '/') {
        Proto = "http";
        if (URL.size() > 1 && URL[1] != '/') {
            Path = URL;
            return;
        }
        authority = From(URL, 2);
    } else if (StartsWithText(URL, "http:")) {
        Proto = "http";
        if (URL.size() > 6 && URL[6] != '/') {
            Path = From(URL, 6);
            return;
        }
        authority = From(URL, 7);
    } else if (StartsWithText(URL, "mailto:")) {
        Proto = "mailto";
        authority = URL.substr(URL.find(':') + 1);
    } else {
        authority = URL;
    }
    SplitAuthority(authority, User, Pass, Host, Port, Path);
}

int NthPos(std::string_view Substr, std::string_view S, int Count) {
    // "Not found" is the length plus the occurrences missing; wide arithmetic and a cap
    // keep extreme counts from overflowing.
    const auto notFound = [&](std::int64_t missing) {
        return static_cast<int>(
            std::min<std::int64_t>(static_cast<std::int64_t>(S.size()) + missing, INT_MAX));
    };
    if (Count == 0 || Substr.empty()) return Count > 0 ? notFound(Count) : 0;
    if (Count > 0) {
        size_t from = 0;
        for (int found = 0; found < Count; ++found) {
            const size_t at = from <= S.size() ? S.find(Substr, from) : std::string_view::npos;
            if (at == std::string_view::npos) return notFound(Count - found);
            if (found + 1 == Count) return static_cast<int>(at) + 1;
            from = at + 1;
        }
        return 0;
    }
    const std::int64_t wanted = -static_cast<std::int64_t>(Count);
    size_t before = S.size(); // search for a match starting below this
    for (std::int64_t found = 0; found < wanted; ++found) {
        if (before == 0) return 0;
        const size_t at = S.rfind(Substr, before - 1);
        if (at == std::string_view::npos) return 0;
        if (found + 1 == wanted) return static_cast<int>(at) + 1;
        before = at;
    }
    return 0;
}

std::string FormatRfc1123Date(TDateTime D) {
    // Years 1 to 9999 only: beyond them the four-digit year and the day arithmetic would
    // overflow, and a value that is no number at all has no date.
    constexpr TDateTime FirstDay = -693593.0; // 1 January 0001
    constexpr TDateTime LastDay = 2958465.0;  // 31 December 9999
    D = std::isnan(D) ? FirstDay : std::clamp(D, FirstDay, LastDay + 86399.0 / 86400.0);
    const auto totalMs = static_cast<std::int64_t>(std::llround(D * MSecsPerDay));
    std::int64_t day = totalMs / MSecsPerDay;
    std::int64_t msOfDay = totalMs % MSecsPerDay;
    if (msOfDay < 0) {
        msOfDay += MSecsPerDay;
        --day;
    }
    int year = 0, month = 0, dayOfMonth = 0;
    CivilFromSerialDay(day, year, month, dayOfMonth);
    const int weekday = static_cast<int>((((day - 2) % 7) + 7) % 7); // serial 2 was a Monday
    const int secs = static_cast<int>(msOfDay / 1000);

    char text[64];
    std::snprintf(text, sizeof(text), "%.3s, %2.2d %.3s %4.4d %2.2d:%2.2d:%2.2d",
                  DayNames + 3 * weekday, dayOfMonth, MonthNames + 3 * (month - 1), year,
                  secs / 3600, secs / 60 % 60, secs % 60);
    return text;
}

std::string EncodeBase64(std::string_view S) {
    static constexpr char Alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((S.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= S.size(); i += 3) {
        const auto b0 = static_cast<unsigned char>(S[i]);
        const auto b1 = static_cast<unsigned char>(S[i + 1]);
        const auto b2 = static_cast<unsigned char>(S[i + 2]);
        out += Alphabet[b0 >> 2];
        out += Alphabet[((b0 & 0x03) << 4) | (b1 >> 4)];
        out += Alphabet[((b1 & 0x0F) << 2) | (b2 >> 6)];
        out += Alphabet[b2 & 0x3F];
    }
    const size_t left = S.size() - i;
    if (left > 0) {
        const auto b0 = static_cast<unsigned char>(S[i]);
        const unsigned b1 = left > 1 ? static_cast<unsigned char>(S[i + 1]) : 0;
        out += Alphabet[b0 >> 2];
        out += Alphabet[((b0 & 0x03) << 4) | (b1 >> 4)];
        out += left > 1 ? Alphabet[(b1 & 0x0F) << 2] : '=';
        out += '=';
    }
    return out;
}

void SetExtension(std::string& FileName, std::string_view NewExt) {
    const size_t dot = FileName.rfind('.');
    if (dot == std::string::npos)
        FileName += '.';
    else
        FileName.erase(dot + 1);
    FileName += NewExt;
}
