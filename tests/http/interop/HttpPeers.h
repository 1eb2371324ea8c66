#pragma once
// Real HTTP servers and proxies on loopback for the HTTP client's interop tests:
// nginx (with its echo module), python3's http.server, squid and tinyproxy. Each binds
// 127.0.0.1 only, runs in the foreground in its own session and is stopped by PID.
// Start answers an empty text on success, "missing" when the program is not installed
// (the test then skips), otherwise why the peer could not run, with its log.

#include "support/Peers.h"

#include <string>

namespace vt::test {

constexpr int HttpPeerStartMs = 20000;

// Common part: a private folder, a free port and the process.
class THttpPeer {
public:
    THttpPeer();
    virtual ~THttpPeer();
    THttpPeer(const THttpPeer&) = delete;
    THttpPeer& operator=(const THttpPeer&) = delete;

    std::string PortText() const { return std::to_string(Port); }
    // "http://127.0.0.1:PORT" followed by the path.
    std::string Url(const std::string& path) const;
    // Everything the peer wrote to its logs so far, for failure messages.
    virtual std::string Logs() const;
    void Stop();

    std::string Dir;
    int Port;
    PeerProcess Process;

protected:
    std::string Launch(const std::vector<std::string>& argv, const std::string& name);
    int FStopSignal = 15;
};

// nginx serving DocRoot on Port and on SecondPort (a second server block, so a
// redirect can lead to another port). `locations` goes into the first server block;
// the echo module is loaded, so "echo" directives work there.
class TNginxPeer : public THttpPeer {
public:
    TNginxPeer();
    std::string Start(const std::string& docRoot, const std::string& locations);
    std::string Url2(const std::string& path) const;
    std::string Logs() const override;
    // Whether nginx's echo module is installed (its directives need it).
    static bool HasEchoModule();

    int SecondPort;
};

// python3 -m http.server on DocRoot (HTTP/1.0, Content-Length, directory redirects).
class TPythonHttpPeer : public THttpPeer {
public:
    std::string Start(const std::string& docRoot);
};

// squid forwarding for loopback clients only; no cache, no DNS beyond loopback.
class TSquidPeer : public THttpPeer {
public:
    TSquidPeer() { FStopSignal = 2; } // SIGINT ends it in about a second
    std::string Start();
    std::string AccessLog() const;
    std::string Logs() const override;
};

// tinyproxy; with a user name it asks for Basic proxy credentials (407 without).
class TTinyproxyPeer : public THttpPeer {
public:
    std::string Start(const std::string& user = {}, const std::string& password = {});
    std::string Logs() const override;
};

} // namespace vt::test
