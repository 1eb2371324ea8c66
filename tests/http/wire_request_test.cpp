// The request as it arrives on the wire, and the events of a plain GET.

#include "HttpTest.h"

#include <gtest/gtest.h>

using namespace vt::test;

namespace {

const TCannedReply Ok{{"HTTP/1.0 200 OK\r\nContent-Type: Text/HTML\r\nContent-Length: 5\r\n\r\n"
                       "hello"}};

TEST(HttpWire, PlainGetSendsTheMinimalRequestAndRaisesEventsInOrder) {
    Watchdog dog(20, "plain get");
    TCannedServer server({Ok});
    TRecordingHttp http;
    EXPECT_EQ(http.Get(Url(server, "/dir/chart.gif?s=ABC")), (std::pair<std::string, int>{"", 0}));
    ASSERT_TRUE(http.WaitDone());

    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0], "GET /dir/chart.gif?s=ABC HTTP/1.0\r\n" + DefaultAccept +
                                        DefaultAgent + "Host: 127.0.0.1\r\n\r\n");
    const std::vector<std::string> expected = {
        "state1", "state3", "state4", "state2",   "connected", "state5",   "reqbegin", "cmd",
        "cmd",    "cmd",    "cmd",    "reqend",   "cmd",       "hdrbegin", "hdr",      "hdr",
        "hdr",    "state6", "hdrend", "docbegin", "data",      "docend",   "state0",   "done"};
    EXPECT_EQ(http.Events, expected);
    THttpCli& c = *http.Cli;
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(c.ReasonPhrase(), "OK");
    EXPECT_EQ(c.ContentType(), "text/html");
    EXPECT_EQ(c.ContentLength(), 5);
    EXPECT_EQ(c.ReceivedBytes(), 5);
    EXPECT_EQ(c.DocName(), "chart.gif");
    EXPECT_EQ(http.BodyText(), "hello");
    EXPECT_EQ(c.RcvdHeader().Count(), 3);
    EXPECT_EQ(c.RcvdHeader()[1], "Content-Type: Text/HTML");
    EXPECT_EQ(http.DoneType, rqGet);
    EXPECT_EQ(http.DoneError, 0);
    EXPECT_EQ(c.State(), hsReady);
}

TEST(HttpWire, EveryOptionalLineInItsPlaceAndOnCommandCanEmptyOne) {
    Watchdog dog(20, "optional lines");
    TCannedServer server({Ok, Ok});
    TRecordingHttp http;
    THttpCli& c = *http.Cli;
    c.SetSender("me@example.test");
    c.SetReference("http://ref.test/");
    c.SetNoCache(true);
    c.SetModifiedSince(2.0);
    c.SetCookie("a=1");
    c.SetContentRangeBegin("100");
    c.OnCommand = [](TObject*, std::string& s) {
        if (s.rfind("Referer", 0) == 0) s.clear(); // the line goes, its line end stays
    };
    EXPECT_EQ(http.Get(Url(server, "/").replace(7, 0, "joe:pw@")).second, 0);
    EXPECT_EQ(server.Requests()[0],
              "GET / HTTP/1.0\r\nFrom: me@example.test\r\n" + DefaultAccept + "\r\n" +
                  DefaultAgent +
                  "Host: 127.0.0.1\r\nPragma: no-cache\r\n"
                  "If-Modified-Since: Mon, 01 Jan 1900 00:00:00 GMT\r\n"
                  "Authorization: Basic am9lOnB3\r\nCookie: a=1\r\nRange: bytes=100-\r\n\r\n");
    EXPECT_EQ(c.DocName(), "document.htm");
    EXPECT_EQ(c.Username(), "joe");
    EXPECT_EQ(c.ContentRangeBegin(), "");

    // The credentials stay; the range was for one request only.
    ASSERT_TRUE(http.WaitDone());
    c.OnCommand = nullptr;
    c.SetModifiedSince(0);
    EXPECT_EQ(http.Get(Url(server, "/x/")).second, 0);
    EXPECT_EQ(server.Requests()[1], "GET /x/ HTTP/1.0\r\nFrom: me@example.test\r\n" +
                                        DefaultAccept + "Referer: http://ref.test/\r\n" +
                                        DefaultAgent +
                                        "Host: 127.0.0.1\r\nPragma: no-cache\r\n"
                                        "Authorization: Basic am9lOnB3\r\nCookie: a=1\r\n\r\n");
    EXPECT_EQ(c.DocName(), "x");
}

TEST(HttpWire, DocNameIsTheLastSegmentWithoutTheQuery) {
    Watchdog dog(20, "doc names");
    TCannedServer server({Ok, Ok, Ok});
    TRecordingHttp http;
    const std::pair<std::string, std::string> cases[] = {
        {"", "document.htm"}, {"/a/b?x=/c", "b"}, {"/dir/setup.exe", "setup.htm"}};
    for (const auto& [path, name] : cases) {
        EXPECT_EQ(http.Get(Url(server, path)).second, 0) << path;
        EXPECT_EQ(http.Cli->DocName(), name) << path;
    }
    EXPECT_EQ(server.Requests()[0].substr(0, 16), "GET / HTTP/1.0\r\n");
    EXPECT_EQ(server.Requests()[1].substr(0, 25), "GET /a/b?x=/c HTTP/1.0\r\nA");
}

TEST(HttpWire, ThroughAProxyTheRequestLineCarriesTheAbsoluteAddress) {
    Watchdog dog(20, "proxy request");
    TCannedServer proxy({Ok});
    TRecordingHttp http;
    THttpCli& c = *http.Cli;
    c.SetProxy("127.0.0.1");
    c.SetProxyPort(proxy.Port());
    c.SetProxyUsername("pu");
    c.SetProxyPassword("pp");
    EXPECT_EQ(http.Get("http://origin.test:8080/a/b.exe?q=1").second, 0);
    EXPECT_EQ(proxy.Requests()[0],
              "GET http://origin.test:8080/a/b.exe?q=1 HTTP/1.0\r\n" + DefaultAccept +
                  DefaultAgent +
                  "Host: origin.test\r\nProxy-Authorization: Basic cHU6cHA=\r\n\r\n");
    // An .exe served as HTML is named as what it is.
    EXPECT_EQ(c.DocName(), "b.htm");
    EXPECT_EQ(c.HostName(), "127.0.0.1");
    EXPECT_EQ(c.ConnectPort(), proxy.Port());
}

TEST(HttpWire, PostSendsLengthAndEveryBodyByteAndHeadSendsNoBody) {
    Watchdog dog(20, "post");
    TCannedServer server({Ok, Ok});
    TRecordingHttp http;
    THttpCli& c = *http.Cli;
    EXPECT_THROW(
        {
            try {
                c.ExecuteRequest(rqPost);
            } catch (EHttpException& e) {
                EXPECT_EQ(e.Message(), "HTTP component has nothing to post");
                EXPECT_EQ(e.ErrorCode(), 2);
                throw;
            }
        },
        EHttpException);
    EXPECT_EQ(c.State(), hsReady);

    std::string body(20000, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7 + i / 251);
    TMemoryStream post;
    post.WriteBuffer(body.data(), static_cast<int>(body.size()));
    post.SetPosition(0);
    c.SetSendStream(&post);
    int sendEnds = 0;
    std::string handed;
    c.OnSendData = [&](TObject*, const void* data, int len) {
        handed.append(static_cast<const char*>(data), static_cast<size_t>(len));
    };
    c.OnSendEnd = [&](TObject*) { ++sendEnds; };
    c.SetURL(Url(server, "/form"));
    c.ExecuteRequest(rqPost);
    EXPECT_EQ(server.Requests()[0], "POST /form HTTP/1.0\r\n" + DefaultAccept +
                                        "Content-Type: application/x-www-form-urlencoded\r\n" +
                                        DefaultAgent +
                                        "Host: 127.0.0.1\r\nContent-Length: 20000\r\n\r\n" + body);
    EXPECT_EQ(handed, body);
    EXPECT_EQ(c.SentCount(), 20000);
    EXPECT_EQ(sendEnds, 1);
    ASSERT_TRUE(http.WaitDone());
    EXPECT_EQ(http.DoneType, rqPost);

    // Relocated, the POST goes again from where the stream stands: at its end.
    TCannedServer mover({{{"HTTP/1.0 302 Found\r\nLocation: /moved\r\n\r\n"}}, Ok});
    c.SetURL(Url(mover, "/form"));
    post.SetPosition(0);
    c.ExecuteRequest(rqPost);
    ASSERT_EQ(mover.Requests().size(), 2u);
    EXPECT_EQ(mover.Requests()[0].substr(mover.Requests()[0].size() - 20000), body);
    EXPECT_EQ(mover.Requests()[1], "POST /moved HTTP/1.0\r\n" + DefaultAccept +
                                       "Content-Type: application/x-www-form-urlencoded\r\n" +
                                       DefaultAgent +
                                       "Host: 127.0.0.1\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(c.SentCount(), 20000);

    c.SetURL(Url(server, "/form"));
    c.ExecuteRequest(rqHead);
    EXPECT_EQ(server.Requests()[1],
              "HEAD /form HTTP/1.0\r\n" + DefaultAccept + DefaultAgent + "Host: 127.0.0.1\r\n\r\n");
}

} // namespace
