#include "platform/winsock/HostLookup.h"

#include "platform/messages/Messages.h"
#include "platform/winsock/Faults.h"
#include "platform/winsock/HostCalls.h"
#include "platform/winsock/SocketTable.h"
#include "platform/winsock/WinsockDefs.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace vt::ws {

namespace {

using Address = std::array<char, 4>; // IPv4, network byte order

struct HostData {
    int Error = 0;
    std::string Name;
    std::vector<std::string> Aliases;
    std::vector<Address> Addresses;
};

// Places an entry in a buffer. Measures when it has no storage; writes with memcpy, so
// the caller's buffer needs no particular alignment for the writing itself.
class EntryArena {
public:
    EntryArena() = default;
    explicit EntryArena(char* storage) : FStorage(storage) {}

    bool Writing() const { return FStorage != nullptr; }
    std::size_t Used() const { return FUsed; }

    std::size_t Reserve(std::size_t bytes, std::size_t align) {
        const std::size_t at = (FUsed + align - 1) / align * align;
        FUsed = at + bytes;
        return at;
    }

    std::size_t String(const std::string& text) {
        const std::size_t at = Reserve(text.size() + 1, 1);
        if (Writing()) std::memcpy(FStorage + at, text.c_str(), text.size() + 1);
        return at;
    }

    // Reserves a null-terminated pointer list and fills it with the given offsets.
    std::size_t PointerList(const std::vector<std::size_t>& targets) {
        const std::size_t at = Reserve(sizeof(char*) * (targets.size() + 1), alignof(char*));
        if (!Writing()) return at;
        for (std::size_t i = 0; i < targets.size(); ++i)
            Put(at + i * sizeof(char*), Pointer(targets[i]));
        Put(at + targets.size() * sizeof(char*), static_cast<char*>(nullptr));
        return at;
    }

    char* Pointer(std::size_t offset) const { return FStorage + offset; }

    template <typename T> void Put(std::size_t offset, const T& value) {
        std::memcpy(FStorage + offset, &value, sizeof value);
    }

private:
    char* FStorage = nullptr;
    std::size_t FUsed = 0;
};

void LayoutHost(const HostData& d, EntryArena& a) {
    const std::size_t head = a.Reserve(sizeof(HostEntryLayout), alignof(HostEntryLayout));
    std::vector<std::size_t> addresses;
    for (const auto& address : d.Addresses) {
        addresses.push_back(a.Reserve(address.size(), 1));
        if (a.Writing()) std::memcpy(a.Pointer(addresses.back()), address.data(), address.size());
    }
    const std::size_t addressList = a.PointerList(addresses);
    const std::size_t name = a.String(d.Name);
    std::vector<std::size_t> aliases;
    for (const auto& alias : d.Aliases)
        aliases.push_back(a.String(alias));
    const std::size_t aliasList = a.PointerList(aliases);
    if (!a.Writing()) return;
    a.Put(head, HostEntryLayout{a.Pointer(name), reinterpret_cast<char**>(a.Pointer(aliasList)),
                                AF_INET, 4, reinterpret_cast<char**>(a.Pointer(addressList))});
}

std::size_t HostSize(const HostData& d) {
    EntryArena measure;
    LayoutHost(d, measure);
    return measure.Used();
}

// Drops aliases, then trailing addresses, until the entry fits the size every caller
// is told to provide, so that a buffer of that size never fails.
void FitToMaxSize(HostData& d) {
    while (HostSize(d) > static_cast<std::size_t>(MAXGETHOSTSTRUCT)) {
        if (!d.Aliases.empty())
            d.Aliases.pop_back();
        else if (d.Addresses.size() > 1)
            d.Addresses.pop_back();
        else
            break;
    }
}

void InjectedDelay() {
    if (const long ms = Faults().LookupDelayMs.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

HostData ResolveName(const std::string& name) {
    HostData d;
    if (const long code = Faults().LookupError.load()) {
        d.Error = static_cast<int>(code);
        return d;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (rc != 0) {
        d.Error = WsaErrorFromGai(rc, errno);
        return d;
    }
    d.Name = found->ai_canonname != nullptr ? found->ai_canonname : name;
    for (const addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || ai->ai_addrlen < sizeof(sockaddr_in)) continue;
        sockaddr_in in{};
        std::memcpy(&in, ai->ai_addr, sizeof in);
        Address address{};
        std::memcpy(address.data(), &in.sin_addr, address.size());
        bool seen = false;
        for (const auto& known : d.Addresses)
            seen = seen || known == address;
        if (!seen) d.Addresses.push_back(address);
    }
    ::freeaddrinfo(found);
    if (d.Addresses.empty()) d.Error = WSANO_DATA;
    return d;
}

HostData ResolveAddress(const Address& address) {
    HostData d;
    if (const long code = Faults().LookupError.load()) {
        d.Error = static_cast<int>(code);
        return d;
    }
    sockaddr_in in{};
    in.sin_family = AF_INET;
    std::memcpy(&in.sin_addr, address.data(), address.size());
    char host[NI_MAXHOST] = {};
    const int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&in), sizeof in, host,
                                 sizeof host, nullptr, 0, NI_NAMEREQD);
    if (rc != 0) {
        d.Error = WsaErrorFromGai(rc, errno);
        return d;
    }
    d.Name = host;
    d.Addresses.push_back(address);
    return d;
}

// --- Asynchronous look-ups ---------------------------------------------------------

struct Task {
    HWND Wnd = nullptr;
    UINT Msg = 0;
    char* Buf = nullptr;
    int BufLen = 0;
};

struct Tasks {
    std::mutex Mutex;
    std::unordered_map<TaskId, Task> Running;
    TaskId LastId = 0;
};

Tasks& AllTasks() {
    // Never destroyed: a worker may finish while the process exits.
    static auto* tasks = new Tasks;
    return *tasks;
}

// Writes the answer and posts it, under the lock that a cancel takes, so nothing is
// written or posted once a cancel has returned.
void Complete(TaskId id, HostData d) {
    auto& tasks = AllTasks();
    std::lock_guard lock(tasks.Mutex);
    auto it = tasks.Running.find(id);
    if (it == tasks.Running.end()) return; // cancelled
    const Task task = it->second;
    tasks.Running.erase(it);
    LPARAM reply = WSAMAKEASYNCREPLY(0, static_cast<WORD>(d.Error));
    if (d.Error == 0) {
        FitToMaxSize(d);
        const std::size_t needed = HostSize(d);
        if (needed > static_cast<std::size_t>(task.BufLen)) {
            reply = WSAMAKEASYNCREPLY(static_cast<WORD>(needed), WSAENOBUFS);
        } else {
            EntryArena arena(task.Buf);
            LayoutHost(d, arena);
            reply = WSAMAKEASYNCREPLY(static_cast<WORD>(needed), 0);
        }
    }
    PostMessage(task.Wnd, task.Msg, static_cast<WPARAM>(id), reply);
}

template <typename Work> TaskId StartTask(const Task& task, Work work) {
    auto& tasks = AllTasks();
    std::lock_guard lock(tasks.Mutex);
    const TaskId id = ++tasks.LastId;
    tasks.Running.emplace(id, task);
    try {
        std::thread([id, work] {
            InjectedDelay();
            Complete(id, work());
        }).detach();
    } catch (const std::exception&) {
        tasks.Running.erase(id);
        Fail(WSAENOBUFS);
        return 0;
    }
    return id;
}

bool CheckTaskArguments(HWND wnd, char* buf, int buflen) {
    if (buf == nullptr || buflen < 0) return Fail(WSAEFAULT), false;
    if (!IsWindow(wnd)) return Fail(WSAEINVAL), false;
    return true;
}

// Per-thread storage of the blocking look-ups, as Winsock keeps one per thread.
struct alignas(alignof(std::max_align_t)) EntryStorage {
    char Bytes[MAXGETHOSTSTRUCT];
};
thread_local EntryStorage tHost;
thread_local EntryStorage tServ;
thread_local EntryStorage tProto;

std::vector<std::string> ListOf(char** list) {
    std::vector<std::string> result;
    for (; list != nullptr && *list != nullptr; ++list)
        result.emplace_back(*list);
    return result;
}

// Lays out a name, its aliases and one more string; drops aliases that do not fit.
template <typename Layout>
Layout* LayoutNamed(EntryStorage& storage, std::vector<std::string> aliases, Layout value,
                    const std::string& name, const std::string* extra, char** Layout::*aliasField,
                    char* Layout::*nameField, char* Layout::*extraField) {
    for (;;) {
        auto lay = [&](EntryArena& a) {
            const std::size_t head = a.Reserve(sizeof(Layout), alignof(Layout));
            const std::size_t nameAt = a.String(name);
            const std::size_t extraAt = extra != nullptr ? a.String(*extra) : 0;
            std::vector<std::size_t> aliasAt;
            for (const auto& alias : aliases)
                aliasAt.push_back(a.String(alias));
            const std::size_t list = a.PointerList(aliasAt);
            if (!a.Writing()) return;
            value.*nameField = a.Pointer(nameAt);
            value.*aliasField = reinterpret_cast<char**>(a.Pointer(list));
            if (extra != nullptr) value.*extraField = a.Pointer(extraAt);
            a.Put(head, value);
        };
        EntryArena measure;
        lay(measure);
        if (measure.Used() <= sizeof storage.Bytes || aliases.empty()) {
            if (measure.Used() > sizeof storage.Bytes) return Fail(WSAENOBUFS), nullptr;
            EntryArena arena(storage.Bytes);
            lay(arena);
            return reinterpret_cast<Layout*>(storage.Bytes);
        }
        aliases.pop_back();
    }
}

} // namespace

TaskId AsyncHostByName(HWND wnd, UINT msg, const char* name, char* buf, int buflen) {
    if (name == nullptr) return Fail(WSAEFAULT), 0;
    if (!CheckTaskArguments(wnd, buf, buflen)) return 0;
    return StartTask(Task{wnd, msg, buf, buflen},
                     [query = std::string(name)] { return ResolveName(query); });
}

TaskId AsyncHostByAddr(HWND wnd, UINT msg, const char* addr, int len, int type, char* buf,
                       int buflen) {
    if (addr == nullptr || len != 4) return Fail(WSAEFAULT), 0;
    if (type != AF_INET) return Fail(WSAEAFNOSUPPORT), 0;
    if (!CheckTaskArguments(wnd, buf, buflen)) return 0;
    Address address{};
    std::memcpy(address.data(), addr, address.size());
    return StartTask(Task{wnd, msg, buf, buflen}, [address] { return ResolveAddress(address); });
}

int CancelAsync(TaskId task) {
    auto& tasks = AllTasks();
    std::lock_guard lock(tasks.Mutex);
    if (tasks.Running.erase(task) != 0) return 0;
    // A handle given out before has already been answered.
    return Fail(task != 0 && task <= tasks.LastId ? WSAEALREADY : WSAEINVAL);
}

void CancelAllAsync() {
    auto& tasks = AllTasks();
    std::lock_guard lock(tasks.Mutex);
    tasks.Running.clear();
}

HostEntryLayout* HostByName(const char* name) {
    if (name == nullptr) return Fail(WSAEFAULT), nullptr;
    HostData d = ResolveName(name);
    if (d.Error != 0) return Fail(d.Error), nullptr;
    FitToMaxSize(d);
    if (HostSize(d) > sizeof tHost.Bytes) return Fail(WSAENOBUFS), nullptr;
    EntryArena arena(tHost.Bytes);
    LayoutHost(d, arena);
    return reinterpret_cast<HostEntryLayout*>(tHost.Bytes);
}

ServEntryLayout* ServByName(const char* name, const char* proto) {
    if (name == nullptr) return Fail(WSAEFAULT), nullptr;
    servent found{};
    servent* result = nullptr;
    std::vector<char> scratch(4096);
    if (::getservbyname_r(name, proto, &found, scratch.data(), scratch.size(), &result) != 0 ||
        result == nullptr)
        return Fail(WSANO_DATA), nullptr;
    const std::string protoName = found.s_proto != nullptr ? found.s_proto : "";
    ServEntryLayout value{};
    value.s_port = static_cast<short>(found.s_port); // stays in network byte order
    return LayoutNamed(tServ, ListOf(found.s_aliases), value, found.s_name, &protoName,
                       &ServEntryLayout::s_aliases, &ServEntryLayout::s_name,
                       &ServEntryLayout::s_proto);
}

ProtoEntryLayout* ProtoByName(const char* name) {
    if (name == nullptr) return Fail(WSAEFAULT), nullptr;
    // The protocols database does not change while the program runs, and every connect
    // asks it for "tcp": each name found is read from the host once.
    struct Found {
        std::string Name;
        std::vector<std::string> Aliases;
        short Number = 0;
    };
    static std::mutex lock;
    static std::unordered_map<std::string, Found> known;
    Found entry;
    {
        std::lock_guard guard(lock);
        auto it = known.find(name);
        if (it == known.end()) {
            protoent found{};
            protoent* result = nullptr;
            std::vector<char> scratch(4096);
            if (::getprotobyname_r(name, &found, scratch.data(), scratch.size(), &result) != 0 ||
                result == nullptr)
                return Fail(WSANO_DATA), nullptr;
            it = known
                     .emplace(name, Found{found.p_name, ListOf(found.p_aliases),
                                          static_cast<short>(found.p_proto)})
                     .first;
        }
        entry = it->second;
    }
    ProtoEntryLayout value{};
    value.p_proto = entry.Number;
    return LayoutNamed(tProto, std::move(entry.Aliases), value, entry.Name, nullptr,
                       &ProtoEntryLayout::p_aliases, &ProtoEntryLayout::p_name,
                       &ProtoEntryLayout::p_name);
}

} // namespace vt::ws
