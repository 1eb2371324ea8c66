#pragma once
// Turning the text properties Addr, Port and Proto into numbers. All three raise
// ESocketException on failure.

#include "platform/runtime/WinTypes.h"

#include <cstdint>
#include <string>

// IPv4 address in network byte order. Dotted texts are converted directly, names go
// through the (blocking) host database.
std::uint32_t WSocketResolveHost(const std::string& Host);
// Port number in host byte order: decimal text, or a service name looked up for Proto.
WORD WSocketResolvePort(const std::string& Port, const std::string& Proto);
// Protocol number: decimal text, or a protocol name.
int WSocketResolveProto(const std::string& Proto);

// Four decimal numbers of at most 255 separated by single dots, blanks around allowed.
bool IsDottedAddress(const std::string& Text);
// Leading blanks, then decimal digits up to the first other character; 0 when none.
int ParseDecimal(const std::string& Text);
