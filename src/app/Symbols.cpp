#include "app/Symbols.h"

#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SysUtils.h"

namespace {

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// The symbol as the error display can show it: control characters as \xNN.
std::string Printable(const std::string& symbol) {
    std::string text;
    for (const unsigned char c : symbol)
        text += IsControl(c) ? "\\x" + IntToHex(c, 2) : std::string(1, static_cast<char>(c));
    return text;
}

} // namespace

void CheckChartSymbol(const std::string& symbol) {
    for (const unsigned char c : symbol)
        if (c == '/' || IsControl(c))
            throw Exception("The symbol \"" + Printable(symbol) +
                            "\" cannot name a chart file: \"/\" and control characters are "
                            "not allowed");
}

std::string IndexForm(const std::string& text, int position, bool yearOnly) {
    std::string result = text;
    if (position == 3 && result.starts_with('^')) result = "_" + Copy(result, 2, 5);
    if (!yearOnly && position != 3 && result.starts_with('_')) result = "^" + Copy(result, 2, 5);
    return result;
}

std::optional<std::string> BoundedAddress(std::string address) {
    if (address.size() >= QuoteAddressBufferSize) return std::nullopt;
    return address;
}

std::optional<std::string> QuotePageAddress(const std::string& symbol) {
    return BoundedAddress(ServicePageAddress("/q?d=t&s=") + symbol);
}

std::string ServicePageAddress(const char* pathAndQuery) {
    return std::string("http://") + QuoteHost + pathAndQuery;
}

std::optional<std::string> MakerAddress(const std::string& domain) {
    return BoundedAddress("www." + domain);
}
