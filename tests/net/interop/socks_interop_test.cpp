// TWSocket through real SOCKS servers on loopback (dante, microsocks, ssh -D), relaying
// to a loopback echo server: the bytes must come back intact, and refusals must arrive
// with their codes in the documented event order.

#include "net/WSocket.h"
#include "net/interop/EventLog.h"
#include "net/interop/LoopbackPeer.h"
#include "net/interop/SocksPeers.h"
#include "support/Pump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using vt::test::PumpUntil;
using vt::test::TEchoServer;
using vt::test::TSocketLog;
using Events = std::vector<std::string>;

namespace {

constexpr int SessionMs = 10000;

// Bytes whose value depends on their position, so loss or reordering shows.
std::string Payload(size_t n) {
    std::string s(n, '\0');
    unsigned x = 7;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

struct TProxySettings {
    std::string Port;
    std::string Level;
    std::string User;
    std::string Password;
};

// One client session through the proxy.
class TSession {
public:
    TSession(const TProxySettings& proxy, const std::string& addr, int port) {
        Socket->SetSocksServer("127.0.0.1");
        Socket->SetSocksPort(proxy.Port);
        Socket->SetSocksLevel(proxy.Level);
        if (!proxy.User.empty()) {
            Socket->SetSocksAuthentication(socksAuthenticateUsercode);
            Socket->SetSocksUsercode(proxy.User);
            Socket->SetSocksPassword(proxy.Password);
        }
        Socket->SetAddr(addr);
        Socket->SetPort(std::to_string(port));
        Socket->Connect();
    }

    // Sends a payload once connected and expects it back unchanged.
    void ExpectRelay(size_t bytes = 64 * 1024) {
        ASSERT_TRUE(PumpUntil([this] { return Log.Connected > 0 || Log.Closed > 0; }, SessionMs))
            << "no answer from the proxy";
        ASSERT_EQ(Log.Connected, 1) << ::testing::PrintToString(Log.Events);
        ASSERT_NE(std::find(Log.Events.begin(), Log.Events.end(), "SessionConnected 0"),
                  Log.Events.end())
            << ::testing::PrintToString(Log.Events);
        const std::string sent = Payload(bytes);
        Socket->SendString(sent);
        ASSERT_TRUE(Log.WaitData(sent.size(), SessionMs)) << "relayed " << Log.Data.size();
        EXPECT_EQ(Log.Data.size(), sent.size());
        EXPECT_TRUE(Log.Data == sent) << "relayed bytes differ";
        Socket->Close();
        EXPECT_EQ(Socket->State(), wsClosed);
    }

    // Expects the refusal sequence with the given SOCKS code.
    void ExpectRefusal(int code, const Events& before = {"SocksConnected 0"}) {
        ASSERT_TRUE(Log.WaitClosed(SessionMs)) << "the proxy never answered";
        Events expected = before;
        const std::string c = std::to_string(code);
        ASSERT_GE(Log.Events.size(), before.size() + 1);
        // The message text is the one of the code; the test names only the code.
        const std::string& error = Log.Events[before.size()];
        EXPECT_EQ(error.substr(0, 17), "SocksError " + c + " ") << error;
        expected.push_back(error);
        expected.push_back("SessionConnected " + c);
        if (before.size() > 1 && before.back() == "AuthState Begin")
            expected.push_back("AuthState Failed");
        expected.push_back("SessionClosed " + c);
        EXPECT_EQ(Log.Events, expected);
        EXPECT_EQ(Socket->State(), wsClosed);
    }

    std::unique_ptr<TWSocket> Socket = std::make_unique<TWSocket>(nullptr);
    TSocketLog Log{*Socket};
};

// A port on 127.0.0.1 where nobody listens.
int ClosedPort() {
    int port = 0;
    vt::test::CloseDescriptor(vt::test::ListenLoopback(port));
    return port;
}

// ---------------------------------------------------------------- dante, no auth

class DanteSocks : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Echo = std::make_unique<TEchoServer>();
        Blocked = std::make_unique<TEchoServer>();
        Peer = std::make_unique<vt::test::TDantePeer>();
        StartResult = Peer->Start(false, Blocked->Port());
    }
    static void TearDownTestSuite() {
        Peer.reset();
        Blocked.reset();
        Echo.reset();
    }
    void SetUp() override {
        if (StartResult == "missing") GTEST_SKIP() << "danted is not installed";
        ASSERT_EQ(StartResult, "");
    }
    TProxySettings Proxy(const std::string& level) { return {Peer->PortText(), level, {}, {}}; }

    vt::test::Watchdog Dog{60, "dante interop"};
    static inline std::unique_ptr<TEchoServer> Echo;
    static inline std::unique_ptr<TEchoServer> Blocked;
    static inline std::unique_ptr<vt::test::TDantePeer> Peer;
    static inline std::string StartResult;
};

TEST_F(DanteSocks, Socks5AndSocks4RelayToTheEchoServer) {
    for (const char* level : {"5", "4"}) {
        SCOPED_TRACE(level);
        TSession session(Proxy(level), "127.0.0.1", Echo->Port());
        session.ExpectRelay();
        EXPECT_EQ(session.Log.UntilData().at(0), "SocksConnected 0");
    }
}

TEST_F(DanteSocks, BlockedAndRefusedDestinationsAreReported) {
    {
        TSession session(Proxy("5"), "127.0.0.1", Blocked->Port());
        session.ExpectRefusal(20005); // connection not allowed by ruleset
    }
    {
        TSession session(Proxy("4"), "127.0.0.1", Blocked->Port());
        session.ExpectRefusal(20016); // request rejected or failed
    }
    {
        TSession session(Proxy("5"), "127.0.0.1", ClosedPort());
        session.ExpectRefusal(20008); // connection refused
    }
    EXPECT_EQ(Blocked->Connections(), 0);
}

// ---------------------------------------------------------------- dante, user names

class DanteUsername : public ::testing::Test {
protected:
    // Unique per process, so parallel test runs do not share (or delete) one user.
    static inline const std::string UserName = "vtsocks" + std::to_string(::getpid());
    static constexpr const char* Password = "Pw-4-vt-socks";

    static void SetUpTestSuite() {
        Echo = std::make_unique<TEchoServer>();
        if (vt::test::FindProgram("danted").empty()) {
            StartResult = "missing";
            return;
        }
        User = std::make_unique<vt::test::TThrowawayUser>(UserName, Password);
        if (!User->Created()) {
            StartResult = "cannot create the system user (needs root)";
            return;
        }
        Peer = std::make_unique<vt::test::TDantePeer>();
        StartResult = Peer->Start(true, ClosedPort());
    }
    static void TearDownTestSuite() {
        Peer.reset();
        User.reset();
        Echo.reset();
    }
    void SetUp() override {
        if (StartResult == "missing") GTEST_SKIP() << "danted is not installed";
        ASSERT_EQ(StartResult, "");
    }

    vt::test::Watchdog Dog{60, "dante username interop"};
    static inline std::unique_ptr<TEchoServer> Echo;
    static inline std::unique_ptr<vt::test::TThrowawayUser> User;
    static inline std::unique_ptr<vt::test::TDantePeer> Peer;
    static inline std::string StartResult;
};

TEST_F(DanteUsername, RightPasswordRelaysWrongPasswordFails) {
    {
        TSession session({Peer->PortText(), "5", UserName, Password}, "127.0.0.1", Echo->Port());
        session.ExpectRelay();
        EXPECT_EQ(session.Log.UntilData(),
                  (Events{"SocksConnected 0", "AuthState Begin", "AuthState Succeeded",
                          "SessionConnected 0", "DataAvailable 0"}));
    }
    {
        TSession session({Peer->PortText(), "5", UserName, "wrong"}, "127.0.0.1", Echo->Port());
        session.ExpectRefusal(20015, {"SocksConnected 0", "AuthState Begin"});
    }
    {
        // SOCKS 4 cannot authenticate and is turned away.
        TSession session({Peer->PortText(), "4", {}, {}}, "127.0.0.1", Echo->Port());
        session.ExpectRefusal(20016);
    }
    EXPECT_EQ(Echo->Connections(), 1);
}

// ---------------------------------------------------------------- microsocks

class Microsocks : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Echo = std::make_unique<TEchoServer>();
        Open = std::make_unique<vt::test::TMicrosocksPeer>();
        OpenResult = Open->Start();
        Guarded = std::make_unique<vt::test::TMicrosocksPeer>();
        GuardedResult = Guarded->Start("vtuser", "vtpass");
    }
    static void TearDownTestSuite() {
        Guarded.reset();
        Open.reset();
        Echo.reset();
    }
    void SetUp() override {
        if (OpenResult == "missing") GTEST_SKIP() << "microsocks is not installed";
        ASSERT_EQ(OpenResult, "");
        ASSERT_EQ(GuardedResult, "");
    }

    vt::test::Watchdog Dog{60, "microsocks interop"};
    static inline std::unique_ptr<TEchoServer> Echo;
    static inline std::unique_ptr<vt::test::TMicrosocksPeer> Open;
    static inline std::unique_ptr<vt::test::TMicrosocksPeer> Guarded;
    static inline std::string OpenResult;
    static inline std::string GuardedResult;
};

TEST_F(Microsocks, RelaysWithAndWithoutAuthentication) {
    {
        TSession session({Open->PortText(), "5", {}, {}}, "127.0.0.1", Echo->Port());
        session.ExpectRelay(256 * 1024);
    }
    {
        TSession session({Guarded->PortText(), "5", "vtuser", "vtpass"}, "127.0.0.1", Echo->Port());
        session.ExpectRelay();
        EXPECT_EQ(session.Log.UntilData().at(2), "AuthState Succeeded");
    }
}

TEST_F(Microsocks, WrongPasswordRefusedDestinationAndMissingCredentials) {
    {
        TSession session({Guarded->PortText(), "5", "vtuser", "nope"}, "127.0.0.1", Echo->Port());
        session.ExpectRefusal(20015, {"SocksConnected 0", "AuthState Begin"});
    }
    {
        TSession session({Open->PortText(), "5", {}, {}}, "127.0.0.1", ClosedPort());
        session.ExpectRefusal(20008);
    }
    {
        // Only "no authentication" offered to a server that insists on a password.
        TSession session({Guarded->PortText(), "5", {}, {}}, "127.0.0.1", Echo->Port());
        session.ExpectRefusal(20003);
    }
}

// ---------------------------------------------------------------- ssh -D

class SshDynamic : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Echo = std::make_unique<TEchoServer>();
        Peer = std::make_unique<vt::test::TSshDynamicPeer>();
        StartResult = Peer->Start();
    }
    static void TearDownTestSuite() {
        Peer.reset();
        Echo.reset();
    }
    void SetUp() override {
        if (StartResult == "missing") GTEST_SKIP() << "ssh, sshd or ssh-keygen is not installed";
        ASSERT_EQ(StartResult, "");
    }

    vt::test::Watchdog Dog{60, "ssh -D interop"};
    static inline std::unique_ptr<TEchoServer> Echo;
    static inline std::unique_ptr<vt::test::TSshDynamicPeer> Peer;
    static inline std::string StartResult;
};

TEST_F(SshDynamic, Socks4AHandsTheNameToTheProxy) {
    // "localhost" is resolved by the proxy, never here.
    TSession session({Peer->PortText(), "4A", {}, {}}, "localhost", Echo->Port());
    session.ExpectRelay();
}

TEST_F(SshDynamic, Socks5AndSocks4Relay) {
    for (const char* level : {"5", "4"}) {
        SCOPED_TRACE(level);
        TSession session({Peer->PortText(), level, {}, {}}, "127.0.0.1", Echo->Port());
        session.ExpectRelay();
    }
}

TEST_F(SshDynamic, RefusedDestinationEndsWithTheCloseAlone) {
    // This proxy hangs up instead of answering: the application hears only the close.
    TSession session({Peer->PortText(), "4A", {}, {}}, "localhost", ClosedPort());
    ASSERT_TRUE(session.Log.WaitClosed(SessionMs));
    EXPECT_EQ(session.Log.Events, (Events{"SocksConnected 0", "SessionClosed 0"}));
    EXPECT_EQ(session.Log.Connected, 0);
}

} // namespace
