#pragma once
// A loopback HTTP server for wire tests: plain blocking BSD sockets on its own thread,
// it records each request it receives and answers with a canned reply, piece by
// piece. (Kept apart from the Winsock header, which stands in for the host's.)

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vt::test {

struct TCannedReply {
    std::vector<std::string> Pieces; // sent one after the other
    int PauseMs = 0;                 // between two pieces
    bool Reset = false;              // end with a connection reset instead of a close
    bool HoldOpen = false;           // keep the connection open until the client closes
};

class TCannedServer {
public:
    // Connection i gets Replies[i]; past the end the last reply repeats when
    // RepeatLast, otherwise the connection is closed at once.
    explicit TCannedServer(std::vector<TCannedReply> Replies, bool RepeatLast = false);
    ~TCannedServer();
    TCannedServer(const TCannedServer&) = delete;
    TCannedServer& operator=(const TCannedServer&) = delete;

    std::string Port() const { return std::to_string(FPort); }
    // The request bytes (head and body) of every connection so far.
    std::vector<std::string> Requests();
    int Connections() const { return FConnections.load(); }

private:
    void Serve();
    void ServeOne(int fd, const TCannedReply* reply);
    std::string ReadRequest(int fd);

    std::vector<TCannedReply> FReplies;
    bool FRepeatLast;
    int FListenFd = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FConnections{0};
    std::mutex FMutex;
    std::vector<std::string> FRequests;
    std::thread FThread;
};

} // namespace vt::test
