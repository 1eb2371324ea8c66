#pragma once
// The host's socket calls under names the library does not export. The library exports
// `socket`, `send`, `recv`, ... itself, so its own calls to the host must never go
// through those names: they are made as system calls here.

#include <cstddef>
#include <sys/types.h>

namespace vt::ws {

// Each returns what the system call returns (-1 with errno set on failure).
int HostSocket(int domain, int type, int protocol);
int HostBind(int fd, const void* addr, unsigned len);
int HostConnect(int fd, const void* addr, unsigned len);
int HostListen(int fd, int backlog);
int HostAccept(int fd, void* addr, unsigned* len);
ssize_t HostSendTo(int fd, const void* buf, std::size_t len, int flags, const void* to,
                   unsigned tolen);
ssize_t HostRecvFrom(int fd, void* buf, std::size_t len, int flags, void* from, unsigned* fromlen);
// One read of a stream into `len` bytes at `buf`. `left` receives what the host said was
// still queued after it (-1 when it did not say: the socket was not asked to tell).
ssize_t HostRecvTelling(int fd, void* buf, std::size_t len, int& left);
// Asks the host to tell, with every read of a stream, what is still queued after it.
void HostTellBytesLeft(int fd);
int HostShutdown(int fd, int how);
int HostSetSockOpt(int fd, int level, int name, const void* value, unsigned len);
int HostGetSockName(int fd, void* addr, unsigned* len);
int HostGetPeerName(int fd, void* addr, unsigned* len);

// The Winsock error code for a host errno value.
int WsaErrorFromErrno(int err);
// The Winsock error code for a getaddrinfo/getnameinfo result.
int WsaErrorFromGai(int gaiError, int err);

} // namespace vt::ws
