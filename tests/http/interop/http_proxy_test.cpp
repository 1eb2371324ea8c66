// THttpCli through real HTTP proxies (squid, tinyproxy) to a loopback nginx: the request
// line carries the absolute address, the bytes arrive intact, proxy errors and proxy
// authentication surface as the status they are, redirects work through the proxy.

#include "http/interop/HttpSuites.h"

#include "support/Peers.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using vt::test::LogEventuallyHas;
using vt::test::TDocRoot;
using vt::test::TFetch;
using vt::test::TGetResult;
using vt::test::TSquidPeer;
using vt::test::TTinyproxyPeer;

namespace {

void UseProxy(TFetch& f, int port) {
    f.Cli->SetProxy("127.0.0.1");
    f.Cli->SetProxyPort(std::to_string(port));
}

} // namespace

class HttpSquid : public vt::test::TNginxSuite {
protected:
    static void SetUpTestSuite() {
        TNginxSuite::SetUpTestSuite();
        Squid = std::make_unique<TSquidPeer>();
        SquidFailure = Squid->Start();
    }
    static void TearDownTestSuite() {
        Squid.reset();
        TNginxSuite::TearDownTestSuite();
    }
    void SetUp() override {
        TNginxSuite::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        VT_REQUIRE_PEER(SquidFailure, "squid");
    }
    void TearDown() override {
        TNginxSuite::TearDown();
        if (HasFailure() && Squid) std::cerr << "squid logs:\n" << Squid->Logs() << "\n";
    }

    static inline std::unique_ptr<TSquidPeer> Squid;
    static inline std::string SquidFailure;
};

TEST_F(HttpSquid, DocumentsArriveThroughTheProxyWithAbsoluteRequestLines) {
    TFetch f;
    UseProxy(f, Squid->Port);
    TGetResult r = f.Get(Nginx->Url("/small.gif"));
    ASSERT_FALSE(r.Raised) << r.Message << "\n" << f.HeaderText();
    EXPECT_TRUE(f.BodyText() == Docs->SmallGif) << "received " << f.Body.Size() << " bytes";
    EXPECT_EQ(f.Cli->StatusCode(), 200);
    EXPECT_EQ(f.Cli->Path(), Nginx->Url("/small.gif"));
    // squid answers with its own 1.1 status line and marks the hop.
    EXPECT_EQ(f.Cli->RcvdHeader()[0], "HTTP/1.1 200 OK");
    EXPECT_NE(f.HeaderText().find("Via: "), std::string::npos) << f.HeaderText();
    ASSERT_TRUE(f.WaitRequestDone());
    EXPECT_EQ(f.RequestDones, 1);
    EXPECT_EQ(f.RequestDoneError, 0);

    // Many receive blocks: position-dependent bytes show any loss or reordering.
    f.Body.Clear();
    r = f.Get(Nginx->Url("/random.bin"));
    ASSERT_FALSE(r.Raised) << r.Message;
    EXPECT_EQ(f.Body.Size(), TDocRoot::RandomSize);
    EXPECT_TRUE(f.BodyText() == Docs->Content("random.bin")) << "received bytes differ";

    // The proxy was asked for absolute addresses.
    const std::string log = Squid->Dir + "/access.log";
    EXPECT_TRUE(LogEventuallyHas(log, "GET " + Nginx->Url("/small.gif"))) << Squid->AccessLog();
    EXPECT_TRUE(LogEventuallyHas(log, "GET " + Nginx->Url("/random.bin"))) << Squid->AccessLog();
}

TEST_F(HttpSquid, ProxyWithItsOwnPortAndAnUnreachableOrigin) {
    // A port written in Proxy wins over ProxyPort.
    TFetch f;
    f.Cli->SetProxy("127.0.0.1:" + Squid->PortText());
    f.Cli->SetProxyPort("1");
    TGetResult r = f.Get(Nginx->Url("/small.gif"));
    ASSERT_FALSE(r.Raised) << r.Message;
    EXPECT_TRUE(f.BodyText() == Docs->SmallGif);
    ASSERT_TRUE(f.WaitRequestDone());

    // Nothing listens on a fresh port: squid's own error status reaches the caller.
    const int closedPort = vt::test::FreeTcpPort();
    f.Body.Clear();
    r = f.Get("http://127.0.0.1:" + std::to_string(closedPort) + "/chart.gif");
    ASSERT_TRUE(r.Raised);
    EXPECT_EQ(r.ErrorCode, 503);
    EXPECT_EQ(r.Message, "Service Unavailable");
    EXPECT_EQ(f.Cli->StatusCode(), 503);
}

TEST_F(HttpSquid, RedirectsAreFollowedThroughTheProxy) {
    // To another port of the origin, by absolute address.
    TFetch f;
    UseProxy(f, Squid->Port);
    TGetResult r = f.Get(Nginx->Url("/moved"));
    ASSERT_FALSE(r.Raised) << r.Message << "\n" << f.HeaderText();
    EXPECT_TRUE(f.BodyText() == Docs->SmallGif) << "received " << f.Body.Size() << " bytes";
    EXPECT_EQ(f.LocationChanges, 1);
    EXPECT_EQ(f.Cli->Location(), Nginx->Url2("/small.gif"));
    // Every hop still goes to the proxy.
    EXPECT_EQ(f.Cli->ConnectPort(), Squid->PortText());
    ASSERT_TRUE(f.WaitRequestDone());
    EXPECT_EQ(f.RequestDones, 1);

    // A relative Location stays on the origin's host and port.
    f.Body.Clear();
    r = f.Get(Nginx->Url("/moved-relative"));
    ASSERT_FALSE(r.Raised) << r.Message << "\n" << f.HeaderText();
    EXPECT_TRUE(f.BodyText() == Docs->SmallGif) << "received " << f.Body.Size() << " bytes";
    EXPECT_EQ(f.Cli->Location(), Nginx->Url("/small.gif"));
}

class HttpTinyproxy : public vt::test::TNginxSuite {
protected:
    static void SetUpTestSuite() {
        TNginxSuite::SetUpTestSuite();
        Open = std::make_unique<TTinyproxyPeer>();
        Guarded = std::make_unique<TTinyproxyPeer>();
        ProxyFailure = Open->Start();
        if (ProxyFailure.empty()) ProxyFailure = Guarded->Start("alice", "s3cret");
    }
    static void TearDownTestSuite() {
        Open.reset();
        Guarded.reset();
        TNginxSuite::TearDownTestSuite();
    }
    void SetUp() override {
        TNginxSuite::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        VT_REQUIRE_PEER(ProxyFailure, "tinyproxy");
    }
    void TearDown() override {
        TNginxSuite::TearDown();
        if (HasFailure() && Open)
            std::cerr << "tinyproxy logs:\n" << Open->Logs() << "\n" << Guarded->Logs() << "\n";
    }

    static inline std::unique_ptr<TTinyproxyPeer> Open;
    static inline std::unique_ptr<TTinyproxyPeer> Guarded;
    static inline std::string ProxyFailure;
};

TEST_F(HttpTinyproxy, DocumentsArriveThroughTheProxyWithAbsoluteRequestLines) {
    TFetch f;
    UseProxy(f, Open->Port);
    TGetResult r = f.Get(Nginx->Url("/small.gif"));
    ASSERT_FALSE(r.Raised) << r.Message << "\n" << f.HeaderText();
    EXPECT_TRUE(f.BodyText() == Docs->SmallGif) << "received " << f.Body.Size() << " bytes";
    EXPECT_EQ(f.Cli->StatusCode(), 200);
    ASSERT_TRUE(f.WaitRequestDone());
    EXPECT_EQ(f.RequestDones, 1);

    f.Body.Clear();
    r = f.Get(Nginx->Url("/random.bin"));
    ASSERT_FALSE(r.Raised) << r.Message;
    EXPECT_EQ(f.Body.Size(), TDocRoot::RandomSize);
    EXPECT_TRUE(f.BodyText() == Docs->Content("random.bin")) << "received bytes differ";

    // tinyproxy logs each request line as it arrived.
    EXPECT_TRUE(LogEventuallyHas(Open->Dir + "/tinyproxy.log",
                                 "GET " + Nginx->Url("/small.gif") + " HTTP/1.0"))
        << Open->Logs();
    // The origin received a request for the path (the proxy took the address apart).
    EXPECT_TRUE(LogEventuallyHas(Nginx->Dir + "/access.log", "GET /random.bin "));
}

TEST_F(HttpTinyproxy, ProxyCredentialsAreRequiredAndSent) {
    TFetch f;
    UseProxy(f, Guarded->Port);
    TGetResult r = f.Get(Nginx->Url("/small.gif"));
    ASSERT_TRUE(r.Raised);
    EXPECT_EQ(r.ErrorCode, 407);
    EXPECT_EQ(r.Message, "Proxy Authentication Required");
    EXPECT_EQ(f.Cli->StatusCode(), 407);
    ASSERT_TRUE(f.WaitRequestDone());

    f.Body.Clear();
    f.Cli->SetProxyUsername("alice");
    f.Cli->SetProxyPassword("s3cret");
    r = f.Get(Nginx->Url("/small.gif"));
    ASSERT_FALSE(r.Raised) << r.Message << "\n" << f.HeaderText();
    EXPECT_TRUE(f.BodyText() == Docs->SmallGif) << "received " << f.Body.Size() << " bytes";
    EXPECT_EQ(f.Cli->StatusCode(), 200);

    // A wrong password is refused (tinyproxy answers 401 then) and nothing is kept.
    f.Body.Clear();
    f.Cli->SetProxyPassword("wrong");
    r = f.Get(Nginx->Url("/small.gif"));
    ASSERT_TRUE(r.Raised);
    EXPECT_EQ(r.ErrorCode, 401);
    EXPECT_EQ(r.Message, "Unauthorized");
    EXPECT_EQ(f.Cli->StatusCode(), 401);
}
