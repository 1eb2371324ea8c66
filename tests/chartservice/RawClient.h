#pragma once
// A blocking HTTP client on plain BSD sockets (kept apart from the Winsock header), for
// clients that send their request slowly, in pieces or malformed.

#include <cstddef>
#include <string>

namespace vt::test {

// Connects to 127.0.0.1:Port, sends Request in pieces of Chunk bytes (all at once for
// 0) with PauseMs between them, and reads until the server closes (at most 8 s of
// silence). Empty when the connection fails or nothing arrives.
std::string RawExchange(int Port, const std::string& Request, std::size_t Chunk = 0,
                        int PauseMs = 0);

} // namespace vt::test
