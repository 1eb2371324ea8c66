#include "net/Winsock32.h"

#include "net/SocketException.h"
#include "platform/runtime/SysUtils.h"

#include <cerrno>
#include <dlfcn.h>
#include <limits.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int WinsockUsers = 0;

namespace {

constexpr const char* WinsockDllName = "wsock32.dll";
constexpr WORD WinsockVersion = 0x0101; // 1.1

void* WinsockLibrary = nullptr;
TWSAData WinsockData{};
std::string LibraryFileName = WinsockDllName;

// One cached address per entry point, cleared by WSocketUnload.
enum TEntry {
    eWSAStartup,
    eWSACleanup,
    eWSASetLastError,
    eWSAGetLastError,
    eWSACancelAsyncRequest,
    eWSAAsyncGetHostByName,
    eWSAAsyncGetHostByAddr,
    eWSAAsyncSelect,
    egetservbyname,
    egetprotobyname,
    egethostbyname,
    esocket,
    eshutdown,
    esetsockopt,
    esendto,
    esend,
    erecv,
    erecvfrom,
    entohs,
    elisten,
    eioctlsocket,
    einet_ntoa,
    einet_addr,
    ehtons,
    egetsockname,
    egetpeername,
    econnect,
    eclosesocket,
    ebind,
    eaccept,
    EntryCount
};
void* EntryPoints[EntryCount] = {};

std::string ExecutableDir() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return {};
    std::string exe(path, static_cast<size_t>(n));
    const auto slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Beside the running program first, then wherever the loader searches. The code of a
// failure is the system's: "module not found" when no file was there, "bad format"
// when a file was there but could not be loaded.
void* LoadLibraryFile(int& errorCode) {
    const std::string name = LibraryFileName;
    bool seen = false;
    if (name.find('/') == std::string::npos) {
        const std::string beside = ExecutableDir() + name;
        if (FileExists(beside)) {
            seen = true;
            if (void* h = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
        }
    } else {
        seen = FileExists(name);
    }
    if (void* h = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    errorCode = seen ? vt::WinsockErrorBadLibrary : vt::WinsockErrorModuleNotFound;
    return nullptr;
}

template <typename F> F Entry(TEntry index, const char* name) {
    void*& slot = EntryPoints[index];
    if (slot == nullptr) slot = WSocketLoadProc(name);
    return reinterpret_cast<F>(slot);
}

// Releases the library once more at program end, for sockets that were never freed.
struct TUnloadAtExit {
    ~TUnloadAtExit() {
        if (WinsockLibrary != nullptr) WSocketUnload();
    }
} UnloadAtExit;

} // namespace

void* WSocketLoadProc(const std::string& Name) {
    if (WinsockLibrary == nullptr) {
        int code = 0;
        void* library = LoadLibraryFile(code);
        if (library == nullptr)
            throw ESocketException("Unable to load " + std::string(WinsockDllName) + " Error #" +
                                   std::to_string(code));
        WinsockLibrary = library;
        // Start-up is tried once per load; a refusal leaves the library loaded.
        const int result = vt::wsapi::WSAStartup(WinsockVersion, &WinsockData);
        if (result != 0)
            throw ESocketException(Format("%s: WSAStartup error #%d", WinsockDllName, result));
    }
    if (Name.empty()) return nullptr;
    dlerror();
    void* proc = dlsym(WinsockLibrary, Name.c_str());
    if (proc == nullptr)
        throw ESocketException("Procedure " + Name + " not found in " + WinsockDllName +
                               " Error #" + std::to_string(vt::WinsockErrorProcNotFound));
    return proc;
}

void WSocketUnload() {
    if (WinsockLibrary != nullptr) {
        // Clean-up is only meaningful when its entry point exists; a library without it
        // is still released.
        if (void* cleanup = dlsym(WinsockLibrary, "WSACleanup"))
            reinterpret_cast<LPFN_WSACLEANUP>(cleanup)();
        dlclose(WinsockLibrary);
        WinsockLibrary = nullptr;
        for (auto& entry : EntryPoints)
            entry = nullptr;
    }
    WinsockUsers = 0;
}

namespace vt {

void SetWinsockLibraryName(const std::string& FileName) {
    LibraryFileName = FileName.empty() ? std::string(WinsockDllName) : FileName;
}

bool WinsockLoaded() {
    return WinsockLibrary != nullptr;
}

namespace wsapi {

int WSAStartup(WORD VersionRequested, TWSAData* Data) {
    return Entry<LPFN_WSASTARTUP>(eWSAStartup, "WSAStartup")(VersionRequested, Data);
}

int WSACleanup() {
    return Entry<LPFN_WSACLEANUP>(eWSACleanup, "WSACleanup")();
}

void WSASetLastError(int Error) {
    Entry<LPFN_WSASETLASTERROR>(eWSASetLastError, "WSASetLastError")(Error);
}

int WSAGetLastError() {
    return Entry<LPFN_WSAGETLASTERROR>(eWSAGetLastError, "WSAGetLastError")();
}

int WSACancelAsyncRequest(HANDLE AsyncTaskHandle) {
    return Entry<LPFN_WSACANCELASYNCREQUEST>(eWSACancelAsyncRequest,
                                             "WSACancelAsyncRequest")(AsyncTaskHandle);
}

HANDLE WSAAsyncGetHostByName(HWND Wnd, UINT Msg, const char* Name, char* Buf, int BufLen) {
    return Entry<LPFN_WSAASYNCGETHOSTBYNAME>(eWSAAsyncGetHostByName,
                                             "WSAAsyncGetHostByName")(Wnd, Msg, Name, Buf, BufLen);
}

HANDLE WSAAsyncGetHostByAddr(HWND Wnd, UINT Msg, const char* Addr, int Len, int Type, char* Buf,
                             int BufLen) {
    return Entry<LPFN_WSAASYNCGETHOSTBYADDR>(eWSAAsyncGetHostByAddr, "WSAAsyncGetHostByAddr")(
        Wnd, Msg, Addr, Len, Type, Buf, BufLen);
}

int WSAAsyncSelect(SOCKET S, HWND Wnd, UINT Msg, long Event) {
    return Entry<LPFN_WSAASYNCSELECT>(eWSAAsyncSelect, "WSAAsyncSelect")(S, Wnd, Msg, Event);
}

TServEnt* getservbyname(const char* Name, const char* Proto) {
    return Entry<LPFN_GETSERVBYNAME>(egetservbyname, "getservbyname")(Name, Proto);
}

TProtoEnt* getprotobyname(const char* Name) {
    return Entry<LPFN_GETPROTOBYNAME>(egetprotobyname, "getprotobyname")(Name);
}

THostEnt* gethostbyname(const char* Name) {
    return Entry<LPFN_GETHOSTBYNAME>(egethostbyname, "gethostbyname")(Name);
}

SOCKET socket(int Af, int Type, int Protocol) {
    return Entry<LPFN_SOCKET>(esocket, "socket")(Af, Type, Protocol);
}

int shutdown(SOCKET S, int How) {
    return Entry<LPFN_SHUTDOWN>(eshutdown, "shutdown")(S, How);
}

int setsockopt(SOCKET S, int Level, int OptName, const char* OptVal, int OptLen) {
    return Entry<LPFN_SETSOCKOPT>(esetsockopt, "setsockopt")(S, Level, OptName, OptVal, OptLen);
}

int sendto(SOCKET S, const char* Buf, int Len, int Flags, const TSockAddr* To, int ToLen) {
    return Entry<LPFN_SENDTO>(esendto, "sendto")(S, Buf, Len, Flags, To, ToLen);
}

int send(SOCKET S, const char* Buf, int Len, int Flags) {
    return Entry<LPFN_SEND>(esend, "send")(S, Buf, Len, Flags);
}

int recv(SOCKET S, char* Buf, int Len, int Flags) {
    return Entry<LPFN_RECV>(erecv, "recv")(S, Buf, Len, Flags);
}

int recvfrom(SOCKET S, char* Buf, int Len, int Flags, TSockAddr* From, int* FromLen) {
    return Entry<LPFN_RECVFROM>(erecvfrom, "recvfrom")(S, Buf, Len, Flags, From, FromLen);
}

u_short ntohs(u_short NetShort) {
    return Entry<LPFN_NTOHS>(entohs, "ntohs")(NetShort);
}

int listen(SOCKET S, int Backlog) {
    return Entry<LPFN_LISTEN>(elisten, "listen")(S, Backlog);
}

int ioctlsocket(SOCKET S, long Cmd, u_long* Argp) {
    return Entry<LPFN_IOCTLSOCKET>(eioctlsocket, "ioctlsocket")(S, Cmd, Argp);
}

char* inet_ntoa(TInAddr In) {
    return Entry<LPFN_INET_NTOA>(einet_ntoa, "inet_ntoa")(In);
}

u_long inet_addr(const char* Cp) {
    return Entry<LPFN_INET_ADDR>(einet_addr, "inet_addr")(Cp);
}

u_short htons(u_short HostShort) {
    return Entry<LPFN_HTONS>(ehtons, "htons")(HostShort);
}

int getsockname(SOCKET S, TSockAddr* Name, int* NameLen) {
    return Entry<LPFN_GETSOCKNAME>(egetsockname, "getsockname")(S, Name, NameLen);
}

int getpeername(SOCKET S, TSockAddr* Name, int* NameLen) {
    return Entry<LPFN_GETPEERNAME>(egetpeername, "getpeername")(S, Name, NameLen);
}

int connect(SOCKET S, const TSockAddr* Name, int NameLen) {
    return Entry<LPFN_CONNECT>(econnect, "connect")(S, Name, NameLen);
}

int closesocket(SOCKET S) {
    return Entry<LPFN_CLOSESOCKET>(eclosesocket, "closesocket")(S);
}

int bind(SOCKET S, const TSockAddr* Addr, int NameLen) {
    return Entry<LPFN_BIND>(ebind, "bind")(S, Addr, NameLen);
}

SOCKET accept(SOCKET S, TSockAddr* Addr, int* AddrLen) {
    return Entry<LPFN_ACCEPT>(eaccept, "accept")(S, Addr, AddrLen);
}

} // namespace wsapi
} // namespace vt
