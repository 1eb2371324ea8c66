#pragma once
// Real SOCKS servers on loopback for the interop tests: dante (SOCKS 4 and 5, with or
// without user name checks against a throwaway system user), microsocks (SOCKS 5) and
// OpenSSH's dynamic forwarding (SOCKS 4A) through a private sshd. Each binds 127.0.0.1
// only, runs in its own session and is stopped by PID. Start answers an empty text on
// success, otherwise why the peer could not run (the test then skips or fails).

#include "support/Peers.h"

#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vt::test {

constexpr int SocksPeerStartMs = 20000;

// Runs a short command without a shell; true when it exits with status 0.
inline bool RunQuietly(const std::vector<std::string>& argv, const std::string& input = {}) {
    int in[2];
    if (::pipe(in) != 0) return false;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::close(in[0]);
        ::close(in[1]);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::freopen("/dev/null", "w", stdout);
        ::freopen("/dev/null", "w", stderr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    if (!input.empty()) (void)!::write(in[1], input.data(), input.size());
    ::close(in[1]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A system user that exists for the lifetime of the object (root only).
class TThrowawayUser {
public:
    TThrowawayUser(std::string name, const std::string& password) : FName(std::move(name)) {
        const std::string useradd = FindProgram("useradd");
        const std::string chpasswd = FindProgram("chpasswd");
        if (::geteuid() != 0 || useradd.empty() || chpasswd.empty()) return;
        RunQuietly({FindProgram("userdel"), FName}); // left over from a killed run
        FCreated = RunQuietly({useradd, "--system", "--no-create-home", "--shell",
                               "/usr/sbin/nologin", FName}) &&
                   RunQuietly({chpasswd}, FName + ":" + password + "\n");
    }
    ~TThrowawayUser() {
        if (FCreated) RunQuietly({FindProgram("userdel"), FName});
    }
    TThrowawayUser(const TThrowawayUser&) = delete;
    TThrowawayUser& operator=(const TThrowawayUser&) = delete;

    bool Created() const { return FCreated; }
    const std::string& Name() const { return FName; }

private:
    std::string FName;
    bool FCreated = false;
};

// Common part: a temporary folder, a port and the process.
class TSocksPeer {
public:
    TSocksPeer() : Dir(MakeTempDir("vt-socks")), Port(FreeTcpPort()) {}
    ~TSocksPeer() {
        Process.Stop();
        RemoveTree(Dir);
    }
    TSocksPeer(const TSocksPeer&) = delete;
    TSocksPeer& operator=(const TSocksPeer&) = delete;

    std::string PortText() const { return std::to_string(Port); }

protected:
    std::string Launch(const std::vector<std::string>& argv, const std::string& name) {
        try {
            Process.Start(argv, Dir + "/" + name + ".out");
        } catch (const std::exception& e) {
            return name + " did not start: " + e.what();
        }
        if (!WaitForTcpPort(Port, SocksPeerStartMs))
            return name + " is not listening; its log:\n" + Process.Log();
        return {};
    }

public:
    std::string Dir;
    int Port;
    PeerProcess Process;
};

// dante: SOCKS 4 and 5. With a user name, only SOCKS 5 user/password is accepted.
// Connections to BlockedPort are refused by rule.
class TDantePeer : public TSocksPeer {
public:
    std::string Start(bool usernameAuth, int blockedPort) {
        const std::string danted = FindProgram("danted");
        if (danted.empty()) return "missing";
        const char* method = usernameAuth ? "username" : "none";
        // Dante wants one keyword per line inside its blocks.
        const std::string conf =
            "logoutput: " + Dir + "/danted.log\n" +                                   //
            "internal: 127.0.0.1 port = " + PortText() + "\n" +                       //
            "external: 127.0.0.1\n" +                                                 //
            "clientmethod: none\n" +                                                  //
            "socksmethod: " + method + "\n" +                                         //
            "user.privileged: root\n" +                                               //
            "user.unprivileged: nobody\n" +                                           //
            "client pass {\n from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n" +                  //
            "socks block {\n from: 0.0.0.0/0 to: 127.0.0.1/32 port = " +              //
            std::to_string(blockedPort) + "\n}\n" +                                   //
            "socks pass {\n from: 127.0.0.0/8 to: 127.0.0.0/8\n command: connect\n" + //
            " protocol: tcp\n}\n" +                                                   //
            "socks block {\n from: 0.0.0.0/0 to: 0.0.0.0/0\n}\n";
        WriteFile(Dir + "/danted.conf", conf);
        std::string failure =
            Launch({danted, "-f", Dir + "/danted.conf", "-p", Dir + "/danted.pid"}, "danted");
        if (!failure.empty()) failure += ReadFile(Dir + "/danted.log");
        return failure;
    }
};

// microsocks: SOCKS 5 only, optionally with one user and password.
class TMicrosocksPeer : public TSocksPeer {
public:
    std::string Start(const std::string& user = {}, const std::string& password = {}) {
        const std::string microsocks = FindProgram("microsocks");
        if (microsocks.empty()) return "missing";
        std::vector<std::string> argv = {microsocks, "-i", "127.0.0.1", "-p",
                                         PortText(), "-b", "127.0.0.1"};
        if (!user.empty()) argv.insert(argv.end(), {"-u", user, "-P", password});
        return Launch(argv, "microsocks");
    }
};

// ssh -D through a private sshd with fresh keys, logging in as root.
class TSshDynamicPeer : public TSocksPeer {
public:
    ~TSshDynamicPeer() { FSshd.Stop(); }

    std::string Start() {
        const std::string sshd = FindProgram("sshd");
        const std::string ssh = FindProgram("ssh");
        const std::string keygen = FindProgram("ssh-keygen");
        if (sshd.empty() || ssh.empty() || keygen.empty()) return "missing";
        if (::geteuid() != 0) return "sshd needs root here";
        ::mkdir("/run/sshd", 0755);
        const std::string hostKey = Dir + "/host_key";
        const std::string userKey = Dir + "/user_key";
        if (!RunQuietly({keygen, "-q", "-t", "ed25519", "-N", "", "-f", hostKey}) ||
            !RunQuietly({keygen, "-q", "-t", "ed25519", "-N", "", "-f", userKey}))
            return "ssh-keygen failed";
        WriteFile(Dir + "/authorized_keys", ReadFile(userKey + ".pub"));
        const int sshdPort = FreeTcpPort();
        WriteFile(Dir + "/sshd_config", "ListenAddress 127.0.0.1:" + std::to_string(sshdPort) +
                                            "\n"
                                            "HostKey " +
                                            hostKey +
                                            "\n"
                                            "AuthorizedKeysFile " +
                                            Dir +
                                            "/authorized_keys\n"
                                            "PidFile " +
                                            Dir +
                                            "/sshd.pid\n"
                                            "PasswordAuthentication no\n"
                                            "KbdInteractiveAuthentication no\n"
                                            "UsePAM no\n"
                                            "StrictModes no\n"
                                            "UseDNS no\n"
                                            "PermitRootLogin prohibit-password\n"
                                            "AllowTcpForwarding local\n"
                                            "PermitOpen 127.0.0.1:* localhost:*\n");
        try {
            FSshd.Start({sshd, "-D", "-e", "-f", Dir + "/sshd_config"}, Dir + "/sshd.out");
        } catch (const std::exception& e) {
            return std::string("sshd did not start: ") + e.what();
        }
        if (!WaitForTcpPort(sshdPort, SocksPeerStartMs))
            return "sshd is not listening; its log:\n" + FSshd.Log();
        const std::string login = "root@127.0.0.1";
        return Launch({ssh,  "-N",
                       "-F", "none",
                       "-D", "127.0.0.1:" + PortText(),
                       "-p", std::to_string(sshdPort),
                       "-i", userKey,
                       "-o", "IdentitiesOnly=yes",
                       "-o", "BatchMode=yes",
                       "-o", "StrictHostKeyChecking=no",
                       "-o", "UserKnownHostsFile=/dev/null",
                       "-o", "ExitOnForwardFailure=yes",
                       login},
                      "ssh");
    }

private:
    PeerProcess FSshd;
};

} // namespace vt::test
