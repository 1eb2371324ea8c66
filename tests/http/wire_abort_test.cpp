// Abort pressed from inside the request's own events or between its last messages,
// and the order of the events a pumping handler sees.

#include "HttpTest.h"

#include <gtest/gtest.h>

using namespace vt::test;

namespace {

using TResult = std::pair<std::string, int>;

const TCannedReply Ok{{"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello"}};
// A response that begins with its blank line: the header ends on its first line.
const TCannedReply BlankFirst{{"\r\nhello"}};

// Where the abort is pressed: a state reached, or one of the request's events.
enum class THook {
    StateNotConnected,
    StateDnsLookup,
    StateDnsLookupDone,
    StateConnected,
    StateWaitingHeader,
    SessionConnected,
    RequestHeaderBegin,
    Command,
    RequestHeaderEnd,
    HeaderBegin,
    StateWaitingBody,
    HeaderEnd,
    DocBegin,
};

struct TAbortCase {
    THook Hook;
    const char* Name;
    bool BeforeSend; // nothing of the request may reach the server
};

void PrintTo(const TAbortCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class HttpAbortIn : public ::testing::TestWithParam<TAbortCase> {};

void ArmAbort(TRecordingHttp& http, THook hook, bool& fired) {
    THttpCli& c = *http.Cli;
    auto abortOnce = [&http, &fired] {
        if (fired) return;
        fired = true;
        http.Cli->Abort();
    };
    auto onState = [abortOnce, &c](THttpState wanted) {
        return [abortOnce, &c, wanted](TObject*) {
            if (c.State() == wanted) abortOnce();
        };
    };
    auto onEvent = [abortOnce](TObject*) { abortOnce(); };
    switch (hook) {
    case THook::StateNotConnected:
        c.OnStateChange = onState(hsNotConnected);
        break;
    case THook::StateDnsLookup:
        c.OnStateChange = onState(hsDnsLookup);
        break;
    case THook::StateDnsLookupDone:
        c.OnStateChange = onState(hsDnsLookupDone);
        break;
    case THook::StateConnected:
        c.OnStateChange = onState(hsConnected);
        break;
    case THook::StateWaitingHeader:
        c.OnStateChange = onState(hsWaitingHeader);
        break;
    case THook::StateWaitingBody:
        c.OnStateChange = onState(hsWaitingBody);
        break;
    case THook::SessionConnected:
        c.OnSessionConnected = onEvent;
        break;
    case THook::RequestHeaderBegin:
        c.OnRequestHeaderBegin = onEvent;
        break;
    case THook::Command:
        c.OnCommand = [abortOnce](TObject*, std::string&) { abortOnce(); };
        break;
    case THook::RequestHeaderEnd:
        c.OnRequestHeaderEnd = onEvent;
        break;
    case THook::HeaderBegin:
        c.OnHeaderBegin = onEvent;
        break;
    case THook::HeaderEnd:
        c.OnHeaderEnd = onEvent;
        break;
    case THook::DocBegin:
        c.OnDocBegin = onEvent;
        break;
    }
}

TEST_P(HttpAbortIn, AnAbortFromTheRequestsOwnEventEndsItForGood) {
    const TAbortCase& param = GetParam();
    Watchdog dog(20, param.Name);
    TCannedServer server({param.Hook == THook::HeaderBegin ? BlankFirst : Ok, Ok});
    TRecordingHttp http;
    http.Recording = false;
    bool fired = false;
    ArmAbort(http, param.Hook, fired);

    EXPECT_EQ(http.Get(Url(server, "/a")), (TResult{"Connection aborted on request", 404}));
    EXPECT_TRUE(fired);
    EXPECT_EQ(http.Cli->State(), hsReady);
    ASSERT_TRUE(http.WaitDone(1));
    PumpFor(150); // time for anything the aborted request might still do
    THttpCli& c = *http.Cli;
    EXPECT_EQ(http.DoneCount, 1);
    EXPECT_EQ(http.DoneError, httperrAborted);
    EXPECT_EQ(c.State(), hsReady);
    EXPECT_EQ(c.StatusCode(), 404);
    EXPECT_EQ(c.ReasonPhrase(), "Connection aborted on request");
    EXPECT_FALSE(c.Connected());
    EXPECT_EQ(http.BodyText(), "");
    if (param.BeforeSend) {
        for (const std::string& request : server.Requests()) {
            EXPECT_EQ(request, "");
        }
    }

    // The client is free for the next request, which runs as usual.
    const int connections = server.Connections();
    http.Cli->OnStateChange = nullptr;
    http.Cli->OnSessionConnected = nullptr;
    http.Cli->OnRequestHeaderBegin = nullptr;
    http.Cli->OnCommand = nullptr;
    http.Cli->OnRequestHeaderEnd = nullptr;
    http.Cli->OnHeaderBegin = nullptr;
    http.Cli->OnHeaderEnd = nullptr;
    http.Cli->OnDocBegin = nullptr;
    TCannedServer next({Ok});
    EXPECT_EQ(http.Get(Url(next, "/b")), (TResult{"", 0}));
    EXPECT_EQ(http.BodyText(), "hello");
    ASSERT_TRUE(http.WaitDone(2));
    PumpFor(50);
    EXPECT_EQ(http.DoneCount, 2);
    EXPECT_EQ(server.Connections(), connections); // the aborted one did not come back
}

INSTANTIATE_TEST_SUITE_P(
    Hooks, HttpAbortIn,
    ::testing::Values(TAbortCase{THook::StateNotConnected, "NotConnected", true},
                      TAbortCase{THook::StateDnsLookup, "DnsLookup", true},
                      TAbortCase{THook::StateDnsLookupDone, "DnsLookupDone", true},
                      TAbortCase{THook::StateConnected, "Connected", true},
                      TAbortCase{THook::StateWaitingHeader, "WaitingHeader", true},
                      TAbortCase{THook::SessionConnected, "SessionConnected", true},
                      TAbortCase{THook::RequestHeaderBegin, "RequestHeaderBegin", true},
                      TAbortCase{THook::Command, "Command", true},
                      TAbortCase{THook::RequestHeaderEnd, "RequestHeaderEnd", true},
                      TAbortCase{THook::HeaderBegin, "HeaderBegin", false},
                      TAbortCase{THook::StateWaitingBody, "WaitingBody", false},
                      TAbortCase{THook::HeaderEnd, "HeaderEnd", false},
                      TAbortCase{THook::DocBegin, "DocBegin", false}),
    [](const ::testing::TestParamInfo<TAbortCase>& info) { return info.param.Name; });

TEST(HttpWire, AnAbortAfterTheCloseDoesNotLetTheOldRequestEndTheNextOne) {
    Watchdog dog(20, "late ready");
    TCannedServer first({Ok});
    TCannedServer second({{{"HTTP/1.0 200 OK\r\n\r\nsecond", " document"}, 100}});
    TRecordingHttp http;
    http.Recording = false;
    int docEnds = 0;
    TResult secondResult{"unset", -1};
    // The abort button, clicked just after the server closed: its click is queued
    // before the client's own completion message. Its handler then starts a new request.
    HWND button = AllocateHWnd([&](TMessage& m) {
        if (m.Msg != WM_USER + 50) return;
        http.Cli->Abort();
        http.Body.Clear();
        secondResult = http.Get(Url(second, "/next"));
    });
    http.Cli->OnDocEnd = [&](TObject*) {
        if (++docEnds == 1) PostMessage(button, WM_USER + 50, 0, 0);
    };
    EXPECT_EQ(http.Get(Url(first, "/")), (TResult{"Connection aborted on request", 404}));
    EXPECT_EQ(secondResult, (TResult{"", 0}));
    EXPECT_EQ(http.BodyText(), "second document");
    EXPECT_EQ(docEnds, 2); // one for each document, the abort adds none
    ASSERT_TRUE(http.WaitDone(2));
    PumpFor(50);
    EXPECT_EQ(http.DoneCount, 2);
    DeallocateHWnd(button);
}

TEST(HttpWire, HandlersThatPumpSeeTheirEventsBeforeTheNextOnes) {
    Watchdog dog(20, "pumping order");
    TCannedServer server({{{"HTTP/1.0 302 Found\r\nLocation: /there\r\n\r\n"}}, Ok});
    TRecordingHttp http;
    THttpCli& c = *http.Cli;
    std::vector<std::string> inside;
    bool inHandler = false;
    c.OnStateChange = [&](TObject*) {
        http.Log("state" + std::to_string(c.State()));
        if (inHandler) inside.push_back("state" + std::to_string(c.State()));
        if (c.State() != hsReady) return;
        inHandler = true;
        PumpFor(50); // a progress display that keeps the window alive
        inHandler = false;
    };
    c.OnLocationChange = [&](TObject*) {
        http.Log("location");
        inHandler = true;
        PumpFor(50);
        inHandler = false;
    };
    c.OnRequestDone = [&](TObject*, THttpRequest, WORD) {
        http.Log("done");
        if (inHandler) inside.push_back("done");
        ++http.DoneCount;
    };
    EXPECT_EQ(http.Get(Url(server, "/here")), (TResult{"", 0}));
    ASSERT_TRUE(http.WaitDone(1));
    PumpFor(50);
    // The next hop starts after OnLocationChange, and OnRequestDone comes after the
    // change to hsReady has been handled.
    EXPECT_EQ(inside, std::vector<std::string>{});
    EXPECT_EQ(http.DoneCount, 1);
    EXPECT_EQ(http.BodyText(), "hello");
    ASSERT_GE(http.Events.size(), 2u);
    EXPECT_EQ(http.Events[http.Events.size() - 2], "state0");
    EXPECT_EQ(http.Events.back(), "done");
}

} // namespace
