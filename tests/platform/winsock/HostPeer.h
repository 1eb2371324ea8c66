#pragma once
// The far end of the tests' connections, on the host's own sockets, so that the library
// is checked against a peer that does not share its code. Loopback only; every wait is
// bounded. Kept free of socket headers so tests can use it beside Winsock.h.

#include <cstddef>
#include <string>

namespace vt::test {

// A listening socket on 127.0.0.1 with a system-chosen port.
int HostListen(int& port);
// A port on 127.0.0.1 where nothing listens (bound once, then released).
int HostClosedPort();
// -1 when nobody connected within timeoutMs.
int HostAccept(int listenFd, int timeoutMs = 5000);
// A blocking connect to 127.0.0.1:port; -1 on failure.
int HostConnect(int port);
bool HostSendAll(int fd, const std::string& data);
// Reads until `count` bytes arrived, the peer closed, or timeoutMs passed.
std::string HostReceive(int fd, std::size_t count, int timeoutMs = 5000);
// Reads what is there without waiting.
std::string HostDrain(int fd);
// Waits for the end of the connection: "eof", "reset" or "timeout"; data is discarded.
std::string HostAwaitEnd(int fd, int timeoutMs = 5000);
// Closes with a reset (linger on, time 0).
void HostAbort(int fd);
void HostClose(int fd);
// The host's view of a socket: its local port.
int HostLocalPort(int fd);

} // namespace vt::test
