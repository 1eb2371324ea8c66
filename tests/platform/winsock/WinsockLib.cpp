#include "WinsockLib.h"

#include "support/Pump.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

namespace vt::test {

const char* const kWinsockEntryPoints[30] = {"WSAStartup",
                                             "WSACleanup",
                                             "WSASetLastError",
                                             "WSAGetLastError",
                                             "WSACancelAsyncRequest",
                                             "WSAAsyncGetHostByName",
                                             "WSAAsyncGetHostByAddr",
                                             "WSAAsyncSelect",
                                             "getservbyname",
                                             "getprotobyname",
                                             "gethostbyname",
                                             "socket",
                                             "shutdown",
                                             "setsockopt",
                                             "sendto",
                                             "send",
                                             "recv",
                                             "recvfrom",
                                             "ntohs",
                                             "listen",
                                             "ioctlsocket",
                                             "inet_ntoa",
                                             "inet_addr",
                                             "htons",
                                             "getsockname",
                                             "getpeername",
                                             "connect",
                                             "closesocket",
                                             "bind",
                                             "accept"};

std::string ProgramDir() {
    char path[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string exe(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    return exe.substr(0, exe.rfind('/'));
}

namespace {

template <typename T> void Resolve(void* module, const char* name, T& slot, bool required) {
    slot = reinterpret_cast<T>(::dlsym(module, name));
    if (required && slot == nullptr) ADD_FAILURE() << "entry point missing: " << name;
}

} // namespace

WinsockLib::WinsockLib(const std::string& file, bool start) {
    const std::string path = ProgramDir() + "/" + file;
    FModule = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (FModule == nullptr) {
        ADD_FAILURE() << "cannot load " << path << ": " << ::dlerror();
        return;
    }
    const bool full = file != "wsock32-noentry.dll";
    Resolve(FModule, "WSAStartup", FApi.WSAStartup, true);
    Resolve(FModule, "WSACleanup", FApi.WSACleanup, true);
    Resolve(FModule, "WSASetLastError", FApi.WSASetLastError, true);
    Resolve(FModule, "WSAGetLastError", FApi.WSAGetLastError, true);
    Resolve(FModule, "WSACancelAsyncRequest", FApi.WSACancelAsyncRequest, true);
    Resolve(FModule, "WSAAsyncGetHostByName", FApi.WSAAsyncGetHostByName, true);
    Resolve(FModule, "WSAAsyncGetHostByAddr", FApi.WSAAsyncGetHostByAddr, true);
    Resolve(FModule, "WSAAsyncSelect", FApi.WSAAsyncSelect, full);
    Resolve(FModule, "getservbyname", FApi.getservbyname, true);
    Resolve(FModule, "getprotobyname", FApi.getprotobyname, true);
    Resolve(FModule, "gethostbyname", FApi.gethostbyname, true);
    Resolve(FModule, "socket", FApi.socket, true);
    Resolve(FModule, "shutdown", FApi.shutdown, true);
    Resolve(FModule, "setsockopt", FApi.setsockopt, true);
    Resolve(FModule, "sendto", FApi.sendto, true);
    Resolve(FModule, "send", FApi.send, true);
    Resolve(FModule, "recv", FApi.recv, true);
    Resolve(FModule, "recvfrom", FApi.recvfrom, true);
    Resolve(FModule, "ntohs", FApi.ntohs, true);
    Resolve(FModule, "listen", FApi.listen, true);
    Resolve(FModule, "ioctlsocket", FApi.ioctlsocket, true);
    Resolve(FModule, "inet_ntoa", FApi.inet_ntoa, true);
    Resolve(FModule, "inet_addr", FApi.inet_addr, true);
    Resolve(FModule, "htons", FApi.htons, true);
    Resolve(FModule, "getsockname", FApi.getsockname, true);
    Resolve(FModule, "getpeername", FApi.getpeername, true);
    Resolve(FModule, "connect", FApi.connect, true);
    Resolve(FModule, "closesocket", FApi.closesocket, true);
    Resolve(FModule, "bind", FApi.bind, true);
    Resolve(FModule, "accept", FApi.accept, true);
    const bool faults = file == "wsock32-fault.dll";
    Resolve(FModule, "VtFaultSet", FApi.VtFaultSet, faults);
    Resolve(FModule, "VtFaultReset", FApi.VtFaultReset, faults);
    if (FApi.VtFaultReset != nullptr) FApi.VtFaultReset();
    if (start && FApi.WSAStartup != nullptr) {
        WSADATA data{};
        const int rc = FApi.WSAStartup(WINSOCK_VERSION, &data);
        EXPECT_EQ(rc, 0) << "WSAStartup";
        FStarted = rc == 0;
    }
}

WinsockLib::~WinsockLib() {
    if (FModule == nullptr) return;
    if (FApi.VtFaultReset != nullptr) FApi.VtFaultReset();
    if (FStarted) FApi.WSACleanup();
    ::dlclose(FModule);
}

sockaddr_in WinsockLib::Loopback(int port) const {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = FApi.htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = static_cast<std::uint32_t>(FApi.inet_addr("127.0.0.1"));
    return addr;
}

int WinsockLib::BoundPort(SOCKET s) const {
    sockaddr_in addr{};
    int len = sizeof addr;
    if (FApi.getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return -1;
    return FApi.ntohs(addr.sin_port);
}

SOCKET WinsockLib::Socket(int type) const {
    const SOCKET s = FApi.socket(AF_INET, type, 0);
    EXPECT_NE(s, INVALID_SOCKET) << "socket: " << FApi.WSAGetLastError();
    return s;
}

NoteWindow::NoteWindow() {
    FWnd = AllocateHWnd([this](TMessage& m) { FNotes.push_back({m.Msg, m.WParam, m.LParam}); });
}

NoteWindow::~NoteWindow() {
    DeallocateHWnd(FWnd);
}

std::vector<Note> NoteWindow::For(SOCKET s) const {
    std::vector<Note> result;
    for (const auto& note : FNotes)
        if (note.Msg == WM_SOCKET && note.WParam == s) result.push_back(note);
    return result;
}

int NoteWindow::Count(SOCKET s, long event) const {
    int n = 0;
    for (const auto& note : For(s))
        n += WSAGETSELECTEVENT(note.LParam) == event;
    return n;
}

bool NoteWindow::WaitFor(SOCKET s, long event, int count, int timeoutMs) const {
    return PumpUntil([&] { return Count(s, event) >= count; }, timeoutMs);
}

int NoteWindow::ErrorOf(SOCKET s, long event) const {
    for (const auto& note : For(s))
        if (WSAGETSELECTEVENT(note.LParam) == event) return WSAGETSELECTERROR(note.LParam);
    return -1;
}

} // namespace vt::test
