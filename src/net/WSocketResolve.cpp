#include "net/WSocketResolve.h"

#include "net/SocketException.h"
#include "net/Winsock32.h"
#include "platform/runtime/SysUtils.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

constexpr size_t MaxHostLength = 256;
constexpr size_t MaxPortLength = 32;  // this length and more is refused
constexpr size_t MaxProtoLength = 32; // this length and more is refused

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

bool IsDottedAddress(const std::string& Text) {
    size_t i = 0;
    const size_t n = Text.size();
    while (i < n && Text[i] == ' ')
        ++i;
    if (i < n && Text[i] == '.') return false;
    int dots = 0;
    // Wider than any accepted number, and saturating, so long digit runs cannot wrap.
    long number = 0;
    for (; i < n; ++i) {
        const char c = Text[i];
        if (IsDigit(c)) {
            if (number <= 255) number = number * 10 + (c - '0');
        } else if (c == '.') {
            if (dots >= 3 || number > 255 || i + 1 >= n || !IsDigit(Text[i + 1])) return false;
            ++dots;
            number = 0;
        } else {
            for (; i < n; ++i)
                if (Text[i] != ' ') return false;
            break;
        }
    }
    return dots == 3 && number <= 255;
}

int ParseDecimal(const std::string& Text) {
    size_t i = 0;
    while (i < Text.size() && Text[i] == ' ')
        ++i;
    // Unsigned arithmetic: an overlong number wraps like the original 32-bit sum
    // instead of overflowing.
    unsigned result = 0;
    for (; i < Text.size() && IsDigit(Text[i]); ++i)
        result = result * 10u + static_cast<unsigned>(Text[i] - '0');
    return static_cast<int>(result);
}

std::uint32_t WSocketResolveHost(const std::string& Host) {
    if (Host.empty() || Host.size() > MaxHostLength)
        throw ESocketException("WSocketResolveHost: '" + Host + "' Invalid Hostname.");
    const std::string host = Trim(Host);
    if (IsDottedAddress(host)) {
        const u_long addr = vt::wsapi::inet_addr(host.c_str());
        if (addr == INADDR_NONE && host != "255.255.255.255")
            throw ESocketException("WSocketResolveHost: '" + Host + "' Invalid IP address.");
        return static_cast<std::uint32_t>(addr);
    }
    const THostEnt* entry = vt::wsapi::gethostbyname(host.c_str());
    if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr)
        throw ESocketException(Format("WSocketResolveHost: Cannot convert host address '%s', "
                                      "Error #%d",
                                      Host.c_str(), vt::wsapi::WSAGetLastError()));
    std::uint32_t addr = 0;
    std::memcpy(&addr, entry->h_addr_list[0], sizeof(addr));
    return addr;
}

WORD WSocketResolvePort(const std::string& Port, const std::string& Proto) {
    if (Port.empty() || Port.size() >= MaxPortLength)
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    if (IsDigit(Port[0])) {
        // Saturating: a number past 65535 would otherwise become another port.
        unsigned long number = 0;
        for (size_t i = 0; i < Port.size() && IsDigit(Port[i]); ++i)
            number = std::min(number * 10 + static_cast<unsigned long>(Port[i] - '0'), 65536ul);
        if (number > 65535) throw ESocketException("WSocketResolvePort: Invalid Port.");
        return static_cast<WORD>(number);
    }
    const std::string port = Trim(Port);
    const std::string proto = Trim(Proto);
    const TServEnt* entry =
        vt::wsapi::getservbyname(port.c_str(), proto.empty() ? nullptr : proto.c_str());
    if (entry == nullptr)
        throw ESocketException(Format("WSocketResolvePort: Cannot convert port '%s', Error #%d",
                                      Port.c_str(), vt::wsapi::WSAGetLastError()));
    return vt::wsapi::ntohs(static_cast<u_short>(entry->s_port));
}

int WSocketResolveProto(const std::string& Proto) {
    if (Proto.empty() || Proto.size() >= MaxProtoLength)
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    const std::string proto = Trim(Proto);
    if (!proto.empty() && IsDigit(proto[0])) return ParseDecimal(proto);
    const TProtoEnt* entry = vt::wsapi::getprotobyname(proto.c_str());
    if (entry == nullptr)
        throw ESocketException(
            Format("WSocketResolveProto: Cannot convert protocol '%s', Error #%d", Proto.c_str(),
                   vt::wsapi::WSAGetLastError()));
    return entry->p_proto;
}
