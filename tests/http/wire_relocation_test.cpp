// Following Location headers, aborting in every state, a second request while one
// runs, and an endless redirect loop in bounded memory.

#include "HttpTest.h"
#include "net/Winsock32.h"
#include "support/FaultLibrary.h"

#include <gtest/gtest.h>

using namespace vt::test;

namespace {

using TResult = std::pair<std::string, int>;

TCannedReply Redirect(const std::string& location) {
    return {{"HTTP/1.0 302 Found\r\nLocation: " + location + "\r\n\r\nredirect body"}};
}

const TCannedReply Final{{"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nfinal"}};

TEST(HttpWire, RelocationsInEachFormReachTheirTargetOnce) {
    Watchdog dog(30, "relocations");
    TCannedServer second({Final});
    const std::string secondAddress = "http://127.0.0.1:" + second.Port();
    // A path on the same server, then a bare name, then an absolute address elsewhere.
    TCannedServer first(
        {Redirect("/rel/y.gif"), Redirect("z.gif"), Redirect(secondAddress + "/abs/x.gif")});
    TRecordingHttp http;
    std::vector<std::string> locations;
    http.Cli->OnLocationChange = [&](TObject*) {
        ++http.Relocations;
        locations.push_back(http.Cli->Location());
    };
    EXPECT_EQ(http.Get(Url(first, "/start")), (TResult{"", 0}));
    // Each address names the server's port, so it can be fetched again as it stands.
    EXPECT_EQ(locations, (std::vector<std::string>{Url(first, "/rel/y.gif"), Url(first, "/z.gif"),
                                                   secondAddress + "/abs/x.gif"}));

    const auto requests = first.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].substr(0, 21), "GET /start HTTP/1.0\r\n");
    EXPECT_EQ(requests[1].substr(0, 25), "GET /rel/y.gif HTTP/1.0\r\n");
    // A bare name: the request line carries the absolute address.
    EXPECT_EQ(requests[2].substr(0, requests[2].find('\r')),
              "GET " + Url(first, "/z.gif") + " HTTP/1.0");
    ASSERT_EQ(second.Requests().size(), 1u);
    EXPECT_EQ(second.Requests()[0], "GET /abs/x.gif HTTP/1.0\r\n" + DefaultAccept + DefaultAgent +
                                        "Host: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(http.BodyText(), "final"); // nothing of the redirects' bodies
    EXPECT_EQ(http.Cli->ReceivedBytes(), 5);
    EXPECT_EQ(http.Relocations, 3);
    EXPECT_EQ(http.Cli->Location(), secondAddress + "/abs/x.gif");
    EXPECT_EQ(http.Cli->RcvdHeader().Count(), 3 * 2 + 2); // every hop's lines
    EXPECT_EQ(http.Cli->StatusCode(), 200);
    ASSERT_TRUE(http.WaitDone(1));
    PumpFor(50);
    EXPECT_EQ(http.DoneCount, 1);
}

TEST(HttpWire, ThroughAProxyRelocatedAddressesKeepTheServersPort) {
    Watchdog dog(20, "proxy relocation");
    TCannedServer proxy({Redirect("/moved"), Redirect("http://other.test:9090/x"), Final});
    TRecordingHttp http;
    http.Cli->SetProxy("127.0.0.1:" + proxy.Port());
    EXPECT_EQ(http.Get("http://origin.test:8081/old"), (TResult{"", 0}));
    const auto requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1], "GET http://origin.test:8081/moved HTTP/1.0\r\n" + DefaultAccept +
                               DefaultAgent + "Host: origin.test\r\n\r\n");
    EXPECT_EQ(requests[2], "GET http://other.test:9090/x HTTP/1.0\r\n" + DefaultAccept +
                               DefaultAgent + "Host: other.test\r\n\r\n");
    EXPECT_EQ(http.Cli->Location(), "http://other.test:9090/x");
    EXPECT_EQ(http.Cli->ConnectPort(), proxy.Port()); // still the proxy
    EXPECT_EQ(http.BodyText(), "final");
}

TEST(HttpWire, ThroughAProxyEveryFormOfLocationLeadsToANewAddress) {
    Watchdog dog(20, "proxy relative relocation");
    // A bare name, then a host and path without a scheme: neither may send the proxy
    // the same address again.
    TCannedServer proxy({Redirect("z.gif"), Redirect("other.test/y"), Final});
    TRecordingHttp http;
    http.Cli->SetProxy("127.0.0.1:" + proxy.Port());
    EXPECT_EQ(http.Get("http://origin.test:8081/dir/old"), (TResult{"", 0}));
    const auto requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1], "GET http://origin.test:8081/z.gif HTTP/1.0\r\n" + DefaultAccept +
                               DefaultAgent + "Host: origin.test\r\n\r\n");
    EXPECT_EQ(requests[2], "GET http://other.test/y HTTP/1.0\r\n" + DefaultAccept + DefaultAgent +
                               "Host: other.test\r\n\r\n");
    EXPECT_EQ(http.Cli->Location(), "http://other.test/y");
    EXPECT_EQ(http.BodyText(), "final");
}

TEST(HttpWire, AbortDuringTheTransferAndWhileIdle) {
    Watchdog dog(20, "abort transfer");
    TCannedServer server({{{"HTTP/1.0 200 OK\r\n\r\npart"}, 0, false, true}});
    TRecordingHttp http;
    http.Cli->OnDocData = [&](TObject*, const void*, int) { http.Cli->Abort(); };
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"Connection aborted on request", 404}));
    ASSERT_TRUE(http.WaitDone());
    EXPECT_EQ(http.DoneError, httperrAborted);
    PumpFor(50);
    EXPECT_EQ(http.DoneCount, 1);
    EXPECT_EQ(http.Cli->State(), hsReady);
    // While idle an abort reports nothing.
    http.Cli->Abort();
    PumpFor(50);
    EXPECT_EQ(http.DoneCount, 1);
}

TEST(HttpWire, ASecondGetWhileOneRunsIsRefusedAndLeavesItAlone) {
    Watchdog dog(20, "busy");
    TCannedServer server({{{"HTTP/1.0 200 OK\r\n\r\n", "one", "two"}, 30}});
    TRecordingHttp http;
    std::string refusal;
    int refusalCode = 0;
    http.Cli->OnHeaderEnd = [&](TObject*) {
        try {
            http.Cli->Get();
        } catch (EHttpException& e) {
            refusal = e.Message();
            refusalCode = e.ErrorCode();
        }
    };
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"", 0}));
    EXPECT_EQ(refusal, "HTTP component is busy");
    EXPECT_EQ(refusalCode, 1);
    EXPECT_EQ(http.BodyText(), "onetwo");
    // The server counts a connection once it has closed it, which the client may see first.
    EXPECT_TRUE(PumpUntil([&] { return server.Connections() == 1; }));
    PumpFor(20);
    EXPECT_EQ(server.Connections(), 1);
}

TEST(HttpWire, EndlessRedirectsStopAfterTheirBound) {
    Watchdog dog(60, "redirect loop");
    // Every answer sends the client back to the same place.
    TCannedServer server({{{"HTTP/1.0 302 Found\r\nWWW-Authenticate: Basic realm=x\r\n"
                            "Location: /again\r\nX-Pad: 1\r\n\r\n"}}},
                         true);
    TRecordingHttp http;
    http.Recording = false;
    int most = 0;
    http.Cli->OnLocationChange = [&](TObject*) {
        most = std::max(most, http.Cli->RcvdHeader().Count());
        ++http.Relocations;
    };
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"Too many relocations (more than 20)", 404}));
    EXPECT_EQ(http.Relocations, THttpCli::MaxRelocations);
    EXPECT_EQ(server.Connections(), THttpCli::MaxRelocations + 1);
    EXPECT_LE(most, THttpCli::MaxKeptHeaderLines + 4);
    ASSERT_TRUE(http.WaitDone());
    PumpFor(50);
    EXPECT_EQ(http.DoneCount, 1);
    EXPECT_EQ(http.DoneError, httperrTooManyRelocations);

    // The bound is per request: the next one follows its own hops again.
    http.Relocations = 0;
    http.Cli->OnLocationChange = [&](TObject*) {
        if (++http.Relocations == 3) http.Cli->Abort();
    };
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"Connection aborted on request", 404}));
    EXPECT_EQ(http.Relocations, 3);
}

TEST(HttpWire, AGetStartedRightAfterAnAbortIsNotEndedByTheAbortedOne) {
    Watchdog dog(20, "abort then get");
    TCannedServer server({{{"HTTP/1.0 200 OK\r\n\r\npart"}, 0, false, true},
                          {{"HTTP/1.0 200 OK\r\n\r\nsecond", " document"}, 50}});
    TRecordingHttp http;
    http.Recording = false;
    TResult second{"unset", -1};
    bool once = false;
    http.Cli->OnDocData = [&](TObject*, const void*, int) {
        if (once) return;
        once = true;
        http.Cli->Abort();
        http.Body.Clear();
        second = http.Get(Url(server, "/again")); // nested, from the abort's handler
    };
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"Connection aborted on request", 404}));
    EXPECT_EQ(second, (TResult{"", 0}));
    EXPECT_EQ(http.BodyText(), "second document");
    ASSERT_TRUE(http.WaitDone(2));
    PumpFor(50);
    EXPECT_EQ(http.DoneCount, 2);
}

TEST(HttpWire, MultiThreadedGetPumpsTheSocketsOwnMessages) {
    Watchdog dog(20, "multithreaded");
    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i % 251);
    TCannedServer server({{{"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n", big}, 20}});
    TRecordingHttp http;
    http.Recording = false;
    http.Cli->SetMultiThreaded(true);
    EXPECT_TRUE(http.Cli->CtrlSocket()->MultiThreaded());
    int largest = 0;
    http.Cli->OnDocData = [&](TObject*, const void*, int len) { largest = std::max(largest, len); };
    EXPECT_EQ(http.Get(Url(server, "/big")), (TResult{"", 0}));
    EXPECT_EQ(http.BodyText(), big);
    EXPECT_LE(largest, THttpCli::ReceiveBufferSize); // whole blocks, never more
}

// Lookups through the fault-injecting variant of the socket library.
class HttpLookup : public vt::test::TFaultLibraryTest {};

TEST_F(HttpLookup, AFailedLookupIs404AndAbortDuringALookupEndsIt) {
    Watchdog dog(20, "lookups");
    TRecordingHttp http;
    ASSERT_EQ(Set("lookup.error", 11001), 0);
    EXPECT_EQ(http.Get("http://no.such.host.test/"),
              (TResult{"can't resolve hostname to IP address", 404}));
    ASSERT_TRUE(http.WaitDone(1));
    EXPECT_EQ(http.DoneError, 11001);

    ASSERT_EQ(Set("lookup.error", 0), 0);
    ASSERT_EQ(Set("lookup.delay", 3000), 0);
    bool sawLookup = false;
    http.Cli->OnStateChange = [&](TObject*) {
        if (http.Cli->State() == hsDnsLookup) sawLookup = true;
    };
    // The abort button, pressed while the lookup runs.
    HWND timerWindow = AllocateHWnd([&](TMessage& m) {
        if (m.Msg == WM_TIMER) http.Cli->Abort();
    });
    SetTimer(timerWindow, 1, 100);
    EXPECT_EQ(http.Get("http://localhost/"), (TResult{"Connection aborted on request", 404}));
    KillTimer(timerWindow, 1);
    DeallocateHWnd(timerWindow);
    EXPECT_TRUE(sawLookup);
    ASSERT_TRUE(http.WaitDone(2));
    EXPECT_EQ(http.DoneError, httperrAborted);
}

} // namespace
