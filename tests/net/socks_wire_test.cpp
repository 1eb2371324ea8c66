// SOCKS 4, 4A and 5 negotiation against a scripted loopback proxy: the exact request
// bytes, the replies' outcome codes and the order of the events.

#include "net/WSocket.h"
#include "net/interop/EventLog.h"
#include "net/interop/LoopbackPeer.h"
#include "support/Pump.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

using vt::test::TScriptedServer;
using vt::test::TSocketLog;
using vt::test::TStep;
using Events = std::vector<std::string>;

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

// The destination the client asks the proxy for: 127.0.0.1 port 8080 (0x1F90).
const std::string DestPort = Bytes({0x1F, 0x90});
const std::string DestIPv4 = Bytes({127, 0, 0, 1});

std::string Socks5Request(const std::string& host) {
    return Bytes({5, 1, 0, 3, static_cast<int>(host.size())}) + host + DestPort;
}
// A granted SOCKS 5 reply bound to 127.0.0.1:1080.
const std::string Socks5Granted = Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0x04, 0x38});
// A granted SOCKS 4 reply.
const std::string Socks4Granted = Bytes({0, 90, 0, 0, 0, 0, 0, 0});

class SocksWire : public ::testing::Test {
protected:
    void Connect(TScriptedServer& proxy, const std::string& level,
                 const std::string& addr = "127.0.0.1") {
        Socket->SetSocksServer("127.0.0.1");
        Socket->SetSocksPort(proxy.Port());
        Socket->SetSocksLevel(level);
        Socket->SetAddr(addr);
        Socket->SetPort("8080");
        Socket->Connect();
    }
    // Runs until the socket closed, then lets the proxy see the client's close.
    void RunToClose(TScriptedServer& proxy) {
        ASSERT_TRUE(Log.WaitClosed()) << "no OnSessionClosed";
        ASSERT_TRUE(vt::test::PumpUntil([&] { return proxy.Finished(); }));
    }

    vt::test::Watchdog Dog{30, "socks wire test"};
    std::unique_ptr<TWSocket> Socket = std::make_unique<TWSocket>(nullptr);
    TSocketLog Log{*Socket};
};

TEST_F(SocksWire, Socks4SendsNineBytesAndHandsOverTheConnection) {
    TScriptedServer proxy({TStep::In(Bytes({4, 1}) + DestPort + DestIPv4 + Bytes({0})),
                           TStep::Out(Socks4Granted + "HELLO"), TStep::In("ping")});
    Connect(proxy, "4");
    ASSERT_TRUE(Log.WaitData(5));
    EXPECT_EQ(Log.Data, "HELLO");
    EXPECT_EQ(Log.UntilData(),
              (Events{"SocksConnected 0", "SessionConnected 0", "DataAvailable 0"}));
    EXPECT_EQ(Socket->State(), wsConnected);
    Socket->SendString("ping");
    ASSERT_TRUE(vt::test::PumpUntil(
        [&] { return proxy.Received().size() == 2 && proxy.Received()[1] == "ping"; }));
    Socket->Close();
    ASSERT_TRUE(vt::test::PumpUntil([&] { return proxy.Finished(); }));
    EXPECT_EQ(proxy.Received()[0], Bytes({4, 1}) + DestPort + DestIPv4 + Bytes({0}));
    EXPECT_EQ(proxy.Trailing(), "");
}

TEST_F(SocksWire, Socks4CarriesTheUsercodeAnd4ACarriesTheHostName) {
    {
        const std::string request = Bytes({4, 1}) + DestPort + DestIPv4 + "alice" + Bytes({0});
        TScriptedServer proxy({TStep::In(request), TStep::Out(Socks4Granted), TStep::Hangup()});
        Socket->SetSocksUsercode("alice");
        Connect(proxy, "4");
        RunToClose(proxy);
        EXPECT_EQ(proxy.Received().at(0), request);
        EXPECT_EQ(proxy.Trailing(), "");
    }
    Log.Events.clear();
    {
        // 10 + n bytes, address 0.0.0.1, the name as typed and never resolved here.
        const std::string request =
            Bytes({4, 1}) + DestPort + Bytes({0, 0, 0, 1, 0}) + "localhost" + Bytes({0});
        TScriptedServer proxy({TStep::In(request), TStep::Out(Socks4Granted), TStep::Hangup()});
        Socket->SetSocksUsercode("");
        Connect(proxy, "4a", "localhost");
        EXPECT_EQ(Socket->SocksLevel(), "4A");
        RunToClose(proxy);
        EXPECT_EQ(proxy.Received().at(0).size(), 10u + 9u);
        EXPECT_EQ(proxy.Received().at(0), request);
        EXPECT_EQ(Log.Events, (Events{"SocksConnected 0", "SessionConnected 0", "DataAvailable 0",
                                      "SessionClosed 0"}));
    }
}

TEST_F(SocksWire, Socks4RefusalsGiveTheirCodesAndCloseTheSocket) {
    struct TCase {
        std::string Reply;
        std::string Error;
    };
    const std::vector<TCase> cases = {
        {Bytes({0, 91, 0, 0, 0, 0, 0, 0}), "20016 request rejected or failed"},
        {Bytes({0, 92, 0, 0, 0, 0, 0, 0}), "20008 connection refused"},
        {Bytes({0, 93, 0, 0, 0, 0, 0, 0}), "20015 authentification failed"},
        {Bytes({0, 95, 0, 0, 0, 0, 0, 0}), "20012 unassigned error #95"},
        {Bytes({4, 90, 0, 0, 0, 0, 0, 0}), "20002 socks version error"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Error);
        Log.Events.clear();
        Log.Closed = 0;
        // The reply comes in two pieces: it is judged only when all 8 bytes are there.
        TScriptedServer proxy({TStep::In(std::string(9, 'x')), TStep::Out(c.Reply.substr(0, 3)),
                               TStep::Wait(100), TStep::Out(c.Reply.substr(3))});
        Connect(proxy, "4");
        RunToClose(proxy);
        const std::string code = c.Error.substr(0, 5);
        EXPECT_EQ(Log.Events, (Events{"SocksConnected 0", "SocksError " + c.Error,
                                      "SessionConnected " + code, "SessionClosed " + code}));
        EXPECT_EQ(Socket->State(), wsClosed);
    }
}

TEST_F(SocksWire, Socks5WithoutAuthenticationSendsTheNameAndKeepsTrailingBytes) {
    TScriptedServer proxy({TStep::In(Bytes({5, 1, 0})), TStep::Out(Bytes({5, 0})),
                           TStep::In(Socks5Request("127.0.0.1")),
                           // The reply in pieces; the greeting of the destination rides on
                           // its last piece.
                           TStep::Out(Socks5Granted.substr(0, 3)), TStep::Wait(100),
                           TStep::Out(Socks5Granted.substr(3) + "WELCOME\r\n")});
    int countSeen = -1;
    std::string firstRead;
    Socket->OnDataAvailable = [&](TObject*, WORD) {
        if (countSeen < 0) countSeen = Socket->RcvdCount();
        Log.Add("DataAvailable", 0);
        char buf[64];
        const int n = Socket->Receive(buf, sizeof buf);
        if (n > 0) firstRead.append(buf, n);
    };
    Connect(proxy, "5");
    ASSERT_TRUE(vt::test::PumpUntil([&] { return firstRead.size() >= 9; }));
    EXPECT_EQ(firstRead, "WELCOME\r\n");
    EXPECT_EQ(countSeen, 9);
    EXPECT_EQ(Log.UntilData(),
              (Events{"SocksConnected 0", "SessionConnected 0", "DataAvailable 0"}));
    Socket->Close();
    ASSERT_TRUE(vt::test::PumpUntil([&] { return proxy.Finished(); }));
    EXPECT_EQ(proxy.Received().at(1), Socks5Request("127.0.0.1"));
}

TEST_F(SocksWire, Socks5WithAuthenticationReportsItsProgress) {
    TScriptedServer proxy({TStep::In(Bytes({5, 1, 2})), TStep::Out(Bytes({5, 2})),
                           TStep::In(Bytes({1, 5}) + "alice" + Bytes({6}) + "secret"),
                           TStep::Out(Bytes({1, 0})), TStep::In(Socks5Request("127.0.0.1")),
                           TStep::Out(Socks5Granted), TStep::In("data")});
    Socket->SetSocksAuthentication(socksAuthenticateUsercode);
    Socket->SetSocksUsercode("alice");
    Socket->SetSocksPassword("secret");
    Connect(proxy, "5");
    ASSERT_TRUE(vt::test::PumpUntil([&] { return Log.Connected > 0; }));
    Socket->SendString("data");
    ASSERT_TRUE(vt::test::PumpUntil([&] { return proxy.Received().size() == 4; }));
    EXPECT_EQ(proxy.Received()[1], Bytes({1, 5}) + "alice" + Bytes({6}) + "secret");
    EXPECT_EQ(proxy.Received()[3], "data");
    EXPECT_EQ(Log.UntilData(), (Events{"SocksConnected 0", "AuthState Begin", "AuthState Succeeded",
                                       "SessionConnected 0", "DataAvailable 0"}));
}

TEST_F(SocksWire, Socks5AuthenticationRefusedOrNotNeeded) {
    {
        TScriptedServer proxy({TStep::In(Bytes({5, 1, 2})), TStep::Out(Bytes({5, 2})),
                               TStep::In(Bytes({1, 5}) + "alice" + Bytes({5}) + "wrong"),
                               TStep::Out(Bytes({1, 1}))});
        Socket->SetSocksAuthentication(socksAuthenticateUsercode);
        Socket->SetSocksUsercode("alice");
        Socket->SetSocksPassword("wrong");
        Connect(proxy, "5");
        RunToClose(proxy);
        EXPECT_EQ(Log.Events,
                  (Events{"SocksConnected 0", "AuthState Begin",
                          "SocksError 20015 socks authentication failed", "SessionConnected 20015",
                          "AuthState Failed", "SessionClosed 20015"}));
    }
    Log.Events.clear();
    Log.Closed = 0;
    {
        // Method 2 offered, method 0 chosen: no sub-negotiation, straight to the request.
        TScriptedServer proxy({TStep::In(Bytes({5, 1, 2})), TStep::Out(Bytes({5, 0})),
                               TStep::In(Socks5Request("127.0.0.1")), TStep::Out(Socks5Granted),
                               TStep::Hangup()});
        Connect(proxy, "5");
        RunToClose(proxy);
        EXPECT_EQ(Log.Events, (Events{"SocksConnected 0", "AuthState NotNeeded",
                                      "SessionConnected 0", "DataAvailable 0", "SessionClosed 0"}));
    }
}

TEST_F(SocksWire, Socks5ReplyFailuresMapToTheirCodes) {
    struct TCase {
        std::string MethodReply;
        std::string Reply;
        std::string Error;
    };
    const std::string ok = Bytes({5, 0});
    const std::vector<TCase> cases = {
        {ok, Bytes({5, 1, 0, 1}), "20004 general SOCKS server failure"},
        {ok, Bytes({5, 2, 0, 1}), "20005 connection not allowed by ruleset"},
        {ok, Bytes({5, 3, 0, 1}), "20006 network unreachable"},
        {ok, Bytes({5, 4, 0, 1}), "20007 host unreachable"},
        {ok, Bytes({5, 5, 0, 1}), "20008 connection refused"},
        {ok, Bytes({5, 6, 0, 1}), "20009 time to live expired"},
        {ok, Bytes({5, 7, 0, 1}), "20010 command not supported"},
        {ok, Bytes({5, 8, 0, 1}), "20011 address type not supported"},
        {ok, Bytes({5, 9, 0, 1}), "20012 unassigned error #9"},
        {ok, Bytes({4, 0, 0, 1}), "20002 socks version error"},
        // IPv6 bound address: refused once its type is known.
        {ok, Bytes({5, 0, 0, 4, 0}), "20011 address type not supported"},
        {Bytes({5, 0xFF}), "", "20003 authentification method not acceptable"},
        {Bytes({4, 0}), "", "20002 socks version error"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Error);
        Log.Events.clear();
        Log.Closed = 0;
        std::vector<TStep> script = {TStep::In(Bytes({5, 1, 0})), TStep::Out(c.MethodReply)};
        if (!c.Reply.empty()) {
            script.push_back(TStep::In(Socks5Request("127.0.0.1")));
            script.push_back(TStep::Out(c.Reply));
        }
        TScriptedServer proxy(script);
        Connect(proxy, "5");
        RunToClose(proxy);
        const std::string code = c.Error.substr(0, 5);
        EXPECT_EQ(Log.Events, (Events{"SocksConnected 0", "SocksError " + c.Error,
                                      "SessionConnected " + code, "SessionClosed " + code}));
        EXPECT_EQ(proxy.Trailing(), "");
    }
}

TEST_F(SocksWire, LongestValuesTheWireCarriesAreSentAndLongerOnesRefused) {
    // A 255-byte host name and a reply bound to a 255-byte name both fit.
    const std::string host(255, 'h');
    const std::string bound(255, 'b');
    {
        TScriptedServer proxy(
            {TStep::In(Bytes({5, 1, 0})), TStep::Out(Bytes({5, 0})), TStep::In(Socks5Request(host)),
             TStep::Out(Bytes({5, 0, 0, 3, 255}) + bound + DestPort + "tail"), TStep::Hangup()});
        Connect(proxy, "5", host);
        RunToClose(proxy);
        EXPECT_EQ(proxy.Received().at(1), Socks5Request(host));
        EXPECT_EQ(Log.Data, "tail");
        EXPECT_EQ(Log.UntilData(),
                  (Events{"SocksConnected 0", "SessionConnected 0", "DataAvailable 0"}));
    }
    // One byte more cannot be encoded: refused before anything is sent.
    struct TCase {
        std::string Level;
        std::string Host;
        std::string User;
        std::string Error;
    };
    const std::vector<TCase> cases = {
        {"5", std::string(256, 'h'), "", "20014 socks host name too long"},
        {"4A", std::string(256, 'h'), "", "20014 socks host name too long"},
        {"4", "127.0.0.1", std::string(256, 'u'), "20014 socks usercode too long"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Level + " " + c.Error);
        Log.Events.clear();
        Log.Closed = 0;
        TScriptedServer proxy({});
        Socket->SetSocksUsercode(c.User);
        Connect(proxy, c.Level, c.Host);
        RunToClose(proxy);
        EXPECT_EQ(proxy.Trailing(), "") << "nothing may reach the proxy";
        EXPECT_EQ(Log.Events, (Events{"SocksConnected 0", "SocksError " + c.Error,
                                      "SessionConnected 20014", "SessionClosed 20014"}));
    }
    // An over-long password is refused before the sub-negotiation goes out.
    Log.Events.clear();
    Log.Closed = 0;
    TScriptedServer proxy({TStep::In(Bytes({5, 1, 2})), TStep::Out(Bytes({5, 2}))});
    Socket->SetSocksUsercode("alice");
    Socket->SetSocksPassword(std::string(256, 'p'));
    Socket->SetSocksAuthentication(socksAuthenticateUsercode);
    Connect(proxy, "5");
    RunToClose(proxy);
    EXPECT_EQ(proxy.Trailing(), "");
    EXPECT_EQ(Log.Events,
              (Events{"SocksConnected 0", "SocksError 20014 socks usercode or password too long",
                      "SessionConnected 20014", "SessionClosed 20014"}));
}

TEST_F(SocksWire, Socks4DestinationThatCannotBeResolvedIsReportedWithoutRequest) {
    // Longer than any host name: refused by the resolver without asking any server.
    const std::string host(257, 'h');
    TScriptedServer proxy({});
    Connect(proxy, "4", host);
    RunToClose(proxy);
    EXPECT_EQ(proxy.Trailing(), "");
    EXPECT_EQ(Log.Events, (Events{"SocksConnected 0",
                                  "SocksError 20017 ESocketException WSocketResolveHost: '" + host +
                                      "' Invalid Hostname.",
                                  "SessionClosed 20017"}));
}

TEST_F(SocksWire, ProxyClosingDuringAuthenticationReportsAuthFailed) {
    TScriptedServer proxy({TStep::In(Bytes({5, 1, 2})), TStep::Out(Bytes({5, 2})),
                           TStep::In(Bytes({1, 1}) + "a" + Bytes({1}) + "b"), TStep::Hangup()});
    Socket->SetSocksAuthentication(socksAuthenticateUsercode);
    Socket->SetSocksUsercode("a");
    Socket->SetSocksPassword("b");
    Connect(proxy, "5");
    RunToClose(proxy);
    EXPECT_EQ(Log.Events, (Events{"SocksConnected 0", "AuthState Begin", "AuthState Failed",
                                  "SessionClosed 0"}));
}

TEST_F(SocksWire, ConnectionToTheProxyRefused) {
    int port = 0;
    const int fd = vt::test::ListenLoopback(port);
    vt::test::CloseDescriptor(fd); // nobody listens there now
    Socket->SetSocksServer("127.0.0.1");
    Socket->SetSocksPort(std::to_string(port));
    Socket->SetAddr("127.0.0.1");
    Socket->SetPort("8080");
    Socket->Connect();
    ASSERT_TRUE(Log.WaitClosed());
    EXPECT_EQ(Log.Events,
              (Events{"SocksConnected 10061", "SessionConnected 10061", "SessionClosed 0"}));
}

TEST(SocksSettings, LevelServerAndPortRules) {
    vt::test::Watchdog dog(30, "socks settings");
    TWSocket socket(nullptr);
    EXPECT_EQ(socket.SocksLevel(), "5");
    socket.SetSocksLevel("4a");
    EXPECT_EQ(socket.SocksLevel(), "4A");
    try {
        socket.SetSocksLevel("6");
        FAIL() << "level 6 accepted";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Invalid socks level. Must be 4, 4A or 5.");
    }
    EXPECT_EQ(socket.SocksLevel(), "4A");
    socket.SetSocksServer("  127.0.0.1 ");
    EXPECT_EQ(socket.SocksServer(), "127.0.0.1");
    try {
        socket.Listen();
        FAIL() << "listen through a proxy accepted";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Listening is not supported thru socks server");
    }
    socket.SetProto("udp");
    socket.SetAddr("127.0.0.1");
    socket.SetPort("9");
    try {
        socket.Connect();
        FAIL() << "udp through a proxy accepted";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "tcp is the only protocol supported thru socks server");
    }
    // With an OnError handler the refusal is reported there instead.
    int errors = 0;
    socket.OnError = [&](TObject*) { ++errors; };
    socket.SetSocksLevel("7");
    EXPECT_EQ(errors, 1);
}

TEST_F(SocksWire, SettingsAreFixedWhileConnectedAndResetByClose) {
    TScriptedServer proxy({TStep::In(Bytes({5, 1, 0})), TStep::Out(Bytes({5, 0})),
                           TStep::In(Socks5Request("127.0.0.1")), TStep::Out(Socks5Granted)});
    Socket->SetSocksUsercode("kept");
    Connect(proxy, "5");
    ASSERT_TRUE(vt::test::PumpUntil([&] { return Log.Connected > 0; }));
    const std::vector<std::pair<std::function<void()>, std::string>> refused = {
        {[&] { Socket->SetSocksLevel("4"); }, "Can't change socks level if not closed"},
        {[&] { Socket->SetSocksServer("127.0.0.2"); }, "Can't change socks server if not closed"},
        {[&] { Socket->SetSocksPort("1"); }, "Can't change socks port if not closed"},
    };
    for (const auto& [change, text] : refused) {
        try {
            change();
            ADD_FAILURE() << "accepted: " << text;
        } catch (const ESocketException& e) {
            EXPECT_EQ(e.Message(), text);
        }
    }
    // A second Connect on the live connection is refused and leaves it working.
    EXPECT_THROW(Socket->Connect(), ESocketException);
    EXPECT_EQ(Socket->State(), wsConnected);
    Socket->Close();
    EXPECT_EQ(Socket->SocksServer(), "");
    EXPECT_EQ(Socket->SocksPort(), "");
    EXPECT_EQ(Socket->SocksLevel(), "5");
    EXPECT_EQ(Socket->SocksUsercode(), "kept");
}

} // namespace
