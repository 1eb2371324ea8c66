#pragma once
// Rules for the symbol in the symbol box: which symbols may name a chart file, the
// index prefix each chart period needs, and the quote-page addresses built from it.

#include <cstddef>
#include <optional>
#include <string>

// The finance service's quote-page host, and the maker's web domain (Label1's caption).
inline constexpr const char* QuoteHost = "finance.yahoo.com";
inline constexpr const char* MakerDomain = "vantrel.example";

// A composed address is built in a buffer of this many characters, terminating zero
// included.
inline constexpr std::size_t QuoteAddressBufferSize = 80;

// Raises Exception when the symbol would name a file outside the working folder or an
// unusable name: a "/" or a control character (NUL included). Nothing else is refused.
void CheckChartSymbol(const std::string& symbol);

// The symbol box text for trackbar position `position`: "^" becomes "_" at position 3;
// unless `yearOnly`, "_" becomes "^" at the other positions. At most five characters
// follow the replaced prefix.
std::string IndexForm(const std::string& text, int position, bool yearOnly);

// The address, or nothing when it would not fit the address buffer (at most 79 characters).
std::optional<std::string> BoundedAddress(std::string address);
// The quote page of a symbol (sent verbatim), and the address of a service page.
std::optional<std::string> QuotePageAddress(const std::string& symbol);
std::string ServicePageAddress(const char* pathAndQuery);
// "www." and the maker's domain, no scheme.
std::optional<std::string> MakerAddress(const std::string& domain);
