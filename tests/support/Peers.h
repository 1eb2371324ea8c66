#pragma once
// Real peers for interop tests: processes started under setsid, bound to loopback,
// stopped by process group. Nothing here reaches beyond 127.0.0.0/8.

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vt::test {

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeTcpPort();
// True when something listens on 127.0.0.1:port (read from /proc/net/tcp).
bool IsListening(int port);
// Polls IsListening until it holds or timeoutMs passes.
bool WaitForTcpPort(int port, int timeoutMs = 20000);

// A fresh directory under /tmp, removed again by RemoveTree.
std::string MakeTempDir(const std::string& prefix = "vt-test");
void RemoveTree(const std::string& path);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// Full path of an executable found in PATH or the sbin folders; empty when missing.
std::string FindProgram(const std::string& name);

// Runs a command line through /bin/sh (bound it with its own timeout) and returns its
// output without trailing blanks and line ends.
std::string Shell(const std::string& command);
// Polls done every 50 ms for up to ms milliseconds.
bool WaitUntil(const std::function<bool()>& done, int ms);
// The display number Xvfb wrote to its -displayfd (its log): a line of digits alone.
std::string XvfbDisplayNumber(const std::string& log);
// The repository's source folder (VT_SOURCE_DIR, set by CTest), for test data.
std::string SourceDir();

// One peer process. Its stdout and stderr go to a log file; it runs in its own
// session so that Stop ends it with all its children.
class PeerProcess {
public:
    PeerProcess() = default;
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;
    ~PeerProcess() { Stop(); }

    // Throws std::runtime_error when the program cannot be started.
    void Start(const std::vector<std::string>& argv, const std::string& logFile);
    bool Running();
    // Sends `signal` to the process group, waits up to graceMs, then kills it.
    void Stop(int signal = 15, int graceMs = 5000);
    pid_t Pid() const { return FPid; }
    std::string Log() const;

private:
    pid_t FPid = -1;
    std::string FLogFile;
};

} // namespace vt::test
