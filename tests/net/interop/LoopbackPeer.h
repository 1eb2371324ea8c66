#pragma once
// Loopback peers written for the socket tests, on plain blocking sockets in a thread of
// their own, so they check the component from outside: a scripted server (expect these
// bytes, answer those) and an echo server. Everything binds 127.0.0.1 and every wait is
// bounded. This header stays free of the system's socket headers, which clash with the
// Winsock declarations the component is written against.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vt::test {

// Listens on 127.0.0.1 at a port the system picks; answers the descriptor.
int ListenLoopback(int& port);
void CloseDescriptor(int fd);

// One step of a conversation as the server sees it.
struct TStep {
    enum TKind { Expect, Reply, Pause, Close } Kind;
    std::string Bytes; // Expect: as many bytes are taken as this holds
    int Ms = 0;        // Pause

    static TStep In(std::string expected) { return {Expect, std::move(expected), 0}; }
    static TStep Out(std::string reply) { return {Reply, std::move(reply), 0}; }
    static TStep Wait(int ms) { return {Pause, {}, ms}; }
    static TStep Hangup() { return {Close, {}, 0}; }
};

// Serves one connection by a script. What arrived for each Expect step is recorded in
// Received (in step order); what arrived after the script, until the client closed, in
// Trailing. Each read waits at most StepTimeoutMs.
class TScriptedServer {
public:
    static constexpr int StepTimeoutMs = 3000;

    explicit TScriptedServer(std::vector<TStep> script);
    ~TScriptedServer();
    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;

    std::string Port() const { return std::to_string(FPort); }
    // The client closed (or never came), and the script is done.
    bool Finished() const { return FFinished; }
    std::vector<std::string> Received();
    std::string Trailing();

private:
    void Run();
    std::string ReadUpTo(int fd, size_t count);

    std::vector<TStep> FScript;
    int FListener = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FFinished{false};
    std::mutex FMutex;
    std::vector<std::string> FReceived;
    std::string FTrailing;
    std::thread FThread;
};

// Echoes every connection back to its sender; serves several clients at once.
class TEchoServer {
public:
    TEchoServer();
    ~TEchoServer();
    TEchoServer(const TEchoServer&) = delete;
    TEchoServer& operator=(const TEchoServer&) = delete;

    int Port() const { return FPort; }
    int Connections() const { return FConnections; }

private:
    void Run();

    int FListener = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FConnections{0};
    std::thread FThread;
};

} // namespace vt::test
