#pragma once
// Name and database look-ups of the library: the asynchronous host look-ups answered
// from worker threads, and the blocking gethostbyname/getservbyname/getprotobyname whose
// results live in per-thread storage. Entries are written in Winsock's layouts, declared
// here again with plain types; the entry points check that both agree.

#include "platform/runtime/WinTypes.h"

#include <cstdint>

namespace vt::ws {

struct HostEntryLayout {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};

struct ServEntryLayout {
    char* s_name;
    char** s_aliases;
    short s_port;
    char* s_proto;
};

struct ProtoEntryLayout {
    char* p_name;
    char** p_aliases;
    short p_proto;
};

using TaskId = std::uintptr_t;

// Start a look-up answered by a message to wnd; 0, with the last error set, when it
// cannot start.
TaskId AsyncHostByName(HWND wnd, UINT msg, const char* name, char* buf, int buflen);
TaskId AsyncHostByAddr(HWND wnd, UINT msg, const char* addr, int len, int type, char* buf,
                       int buflen);
// After a successful cancel the answer never arrives and the buffer is not written.
int CancelAsync(TaskId task);
void CancelAllAsync();

HostEntryLayout* HostByName(const char* name);
ServEntryLayout* ServByName(const char* name, const char* proto);
ProtoEntryLayout* ProtoByName(const char* name);

} // namespace vt::ws
