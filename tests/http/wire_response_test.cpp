// What the client makes of canned replies: line ends, split reads, malformed headers,
// headerless documents and the failures that must not pass for a complete document.

#include "HttpTest.h"
#include "platform/messages/Application.h"
#include "platform/runtime/BufferedFileStream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

using namespace vt::test;
using namespace std::string_literals;

namespace {

using TResult = std::pair<std::string, int>;

TEST(HttpWire, SplitReadsAndBothLineEndsGiveTheSameFields) {
    Watchdog dog(20, "split reads");
    const std::string reply = "HTTP/1.1 200 Fine\nconTent-tYpe:   Image/GIF\r\n"
                              "X-Odd: a\rb\r\nContent-Range: bytes 100-199/1000\n"
                              "Accept-Ranges: bytes\r\nSet-Cookie: k=v\n\r\nGIF89a\r\n\0tail"s;
    TCannedReply bytewise;
    for (char ch : reply)
        bytewise.Pieces.emplace_back(1, ch);
    bytewise.Pieces.back() += "\0\x01"s;
    bytewise.PauseMs = 1;
    TCannedServer server({bytewise});
    TRecordingHttp http;
    std::string cookie;
    http.Cli->OnCookie = [&](TObject*, const std::string& data, bool& accept) {
        EXPECT_TRUE(accept);
        cookie = data;
    };
    EXPECT_EQ(http.Get(Url(server, "/a.gif")), (TResult{"", 0}));
    THttpCli& c = *http.Cli;
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(c.ReasonPhrase(), "Fine");
    EXPECT_EQ(c.ContentType(), "image/gif");
    EXPECT_EQ(c.RcvdHeader()[2], "X-Odd: a\rb"); // a CR not before the LF stays
    EXPECT_EQ(c.ContentRangeBegin(), "100");
    EXPECT_EQ(c.ContentRangeEnd(), "199");
    EXPECT_EQ(c.AcceptRanges(), "bytes");
    EXPECT_EQ(cookie, "k=v");
    // The body goes on byte for byte, zero bytes included.
    EXPECT_EQ(http.BodyText(), "GIF89a\r\n\0tail\0\x01"s);
    EXPECT_EQ(http.Pieces, http.BodyText());
    EXPECT_EQ(c.ReceivedBytes(), 15);
}

TEST(HttpWire, StatusOf400OrMoreRaisesWithTheReasonAndAnEmptyReasonIsKept) {
    Watchdog dog(20, "status");
    TCannedServer server({{{"HTTP/1.1 404 Not Found\r\nWWW-Authenticate: Basic x\r\n\r\nbody"}},
                          {{"HTTP/1.0 200\r\n\r\n"}}});
    TRecordingHttp http;
    EXPECT_EQ(http.Get(Url(server, "/missing")), (TResult{"Not Found", 404}));
    EXPECT_EQ(http.Cli->StatusCode(), 404);
    EXPECT_EQ(http.Cli->ReasonPhrase(), "Not Found");
    EXPECT_EQ(http.Cli->AuthenticateHeaders().Count(), 1);
    ASSERT_TRUE(http.WaitDone());
    EXPECT_EQ(http.DoneError, 0);

    http.Events.clear();
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"", 0}));
    EXPECT_EQ(http.Cli->StatusCode(), 200);
    EXPECT_EQ(http.Cli->ReasonPhrase(), "");
    // An empty body raises neither OnDocBegin nor OnDocEnd.
    for (const auto& e : http.Events)
        EXPECT_TRUE(e != "docbegin" && e != "docend") << e;
}

TEST(HttpWire, NothingOfAFailedResponseCarriesOverToTheNextRequest) {
    Watchdog dog(20, "carry over");
    // A refusal with a Location and an unfinished line, then a plain answer.
    TCannedServer server({{{"HTTP/1.0 401 Unauthorized\r\nLocation: /elsewhere\r\nX-Partial"}},
                          {{"HTTP/1.0 200 OK\r\n\r\nsecond"}}});
    TRecordingHttp http;
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"Unauthorized", 401}));
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"", 0}));
    EXPECT_EQ(http.Cli->RcvdHeader().Count(), 1);
    EXPECT_EQ(http.Cli->RcvdHeader()[0], "HTTP/1.0 200 OK");
    EXPECT_EQ(http.Relocations, 0);
    EXPECT_EQ(http.BodyText(), "second");
    EXPECT_EQ(server.Connections(), 2);
}

TEST(HttpWire, HeaderlessHtmlIsTakenAsBodyWithItsLineEnds) {
    Watchdog dog(20, "headerless");
    const std::string doc = "<Html>\r\n<body>x</body>\n</html>\r\n";
    TCannedServer server({{{doc.substr(0, 10), doc.substr(10)}, 30}});
    TRecordingHttp http;
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"", 0}));
    EXPECT_EQ(http.Cli->ContentType(), "text/html");
    EXPECT_EQ(http.BodyText(), doc);
    EXPECT_EQ(http.Cli->ReceivedBytes(), static_cast<std::int64_t>(doc.size()));
}

TEST(HttpWire, MalformedNumbersAndOverlongLines) {
    Watchdog dog(20, "malformed");
    TCannedServer server({
        {{"HTTP/1.0 2x0 OK\r\n\r\nbody"}},
        // A length that is no number is ignored; the lines after it still count.
        {{"HTTP/1.0 200 OK\r\nContent-Length: lots\r\nContent-Type: A/B\r\n\r\nbody"}},
        // Held open: the client must not wait for the server to give up.
        {{"HTTP/1.0 200 OK\r\nX-Long: " + std::string(9000, 'x')}, 0, false, true},
    });
    TRecordingHttp http;
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"Bad HTTP status line", 404}));
    EXPECT_EQ(http.BodyText(), "");

    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"", 0}));
    EXPECT_EQ(http.Cli->ContentLength(), -1);
    EXPECT_EQ(http.Cli->ContentType(), "a/b");
    EXPECT_EQ(http.BodyText(), "body");

    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"HTTP line too long", 404}));
    ASSERT_TRUE(http.WaitDone(3));
    EXPECT_EQ(http.DoneError, httperrLineTooLong);
}

TEST(HttpWire, HeaderPastItsCapFailsTheRequest) {
    Watchdog dog(30, "header cap");
    std::string reply = "HTTP/1.0 200 OK\r\n";
    const std::string line = "X-Filler: " + std::string(1000, 'f') + "\r\n";
    while (reply.size() < THttpCli::MaxHeaderSize + 4096)
        reply += line;
    TCannedServer server({{{reply}, 0, false, true}});
    TRecordingHttp http;
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"HTTP header too large", 404}));
    EXPECT_LE(http.Cli->RcvdHeader().Count(), THttpCli::MaxHeaderSize / 1000 + 2);
    ASSERT_TRUE(http.WaitDone());
    EXPECT_EQ(http.DoneError, httperrHeaderTooLarge);
}

TEST(HttpWire, ACutDocumentFailsAndAnOpenEndedOneEndsAtTheClose) {
    Watchdog dog(30, "cut documents");
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n";
    TCannedServer server({
        // A reset in the middle of the body.
        {{head, std::string(30000, 'a')}, 50, true},
        // A clean close before the announced length.
        {{head, std::string(30000, 'b')}, 50},
        // No length announced: the close is the end.
        {{"HTTP/1.0 200 OK\r\n\r\n", std::string(30000, 'c')}, 50},
        // The announced length in full.
        {{head, std::string(100000, 'd')}, 0},
    });
    TRecordingHttp http;
    const auto reset = http.Get(Url(server, "/"));
    EXPECT_EQ(reset.second, 404);
    EXPECT_EQ(reset.first.rfind("Connection lost: ", 0), 0u) << reset.first;
    ASSERT_TRUE(http.WaitDone(1));
    EXPECT_EQ(http.DoneError, 10054);

    EXPECT_EQ(http.Get(Url(server, "/")),
              (TResult{"Document incomplete: 30000 of 100000 bytes received", 404}));
    ASSERT_TRUE(http.WaitDone(2));
    EXPECT_EQ(http.DoneError, httperrIncomplete);

    http.Body.Clear();
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"", 0}));
    EXPECT_EQ(http.BodyText(), std::string(30000, 'c'));

    http.Body.Clear();
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"", 0}));
    EXPECT_EQ(http.BodyText(), std::string(100000, 'd'));
    ASSERT_TRUE(http.WaitDone(4));
    EXPECT_EQ(http.DoneCount, 4);
}

TEST(HttpWire, AResetAfterTheWholeAnnouncedDocumentLosesNothing) {
    Watchdog dog(20, "late reset");
    const std::string body(20000, 'r');
    TCannedServer server({
        {{"HTTP/1.0 200 OK\r\nContent-Length: 20000\r\n\r\n", body, ""}, 50, true},
        // Without a length the reset may have cut the document: that is no success.
        {{"HTTP/1.0 200 OK\r\n\r\n", body, ""}, 50, true},
    });
    TRecordingHttp http;
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"", 0}));
    EXPECT_EQ(http.BodyText(), body);
    ASSERT_TRUE(http.WaitDone(1));
    EXPECT_EQ(http.DoneError, 0);

    const auto open = http.Get(Url(server, "/"));
    EXPECT_EQ(open.second, 404);
    EXPECT_EQ(open.first.rfind("Connection lost: ", 0), 0u) << open.first;
}

// A stream that takes a few bytes and then refuses.
class TFullStream : public TMemoryStream {
public:
    std::int32_t Write(const void* Buffer, std::int32_t Count) override {
        if (Size() >= 10) return 0;
        return TMemoryStream::Write(Buffer, Count);
    }
};

TEST(HttpWire, AStreamThatRefusesDataFailsTheRequest) {
    Watchdog dog(20, "write failure");
    TCannedServer server({{{"HTTP/1.0 200 OK\r\n\r\n0123456789", "more"}, 50}});
    TRecordingHttp http;
    TFullStream full;
    http.Cli->SetRcvdStream(&full);
    EXPECT_EQ(http.Get(Url(server, "/")),
              (TResult{"Can't write the document: Stream write error", 404}));
}

TEST(HttpWire, AGatheringFileStreamHoldsTheWholeDocumentWhenGetReturns) {
    Watchdog dog(20, "gathered document");
    std::string body(300 * 1000 + 7, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7 + i / 251);
    TCannedServer server({{{"HTTP/1.0 200 OK\r\n\r\n", body.substr(0, 1000), body.substr(1000)}},
                          {{"HTTP/1.0 200 OK\r\n\r\n", "GIF89a"}}});
    char dir[] = "/tmp/vt_http_file_XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string name = std::string(dir) + "/chart.gif";
    TRecordingHttp http;
    {
        TBufferedFileStream file(name, fmCreate);
        http.Cli->SetRcvdStream(&file);
        EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"", 0}));
        std::ifstream in(name, std::ios::binary);
        EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == body)
            << "the client wrote out the gathered tail before it reported success";
        http.Cli->SetRcvdStream(nullptr);
    }
    std::filesystem::remove_all(dir);

    // A file that cannot take the document fails the request, even when every piece
    // was only gathered until the end.
    TBufferedFileStream full("/dev/full", fmOpenWrite);
    http.Cli->SetRcvdStream(&full);
    EXPECT_EQ(http.Get(Url(server, "/")),
              (TResult{"Can't write the document: Stream write error", 404}));
    ASSERT_TRUE(http.WaitDone(2));
    EXPECT_EQ(http.DoneError, httperrWriteFailed);
    http.Cli->SetRcvdStream(nullptr);
}

TEST(HttpWire, AnEmptyReplyOrARequestThatCannotBeSentFails) {
    Watchdog dog(20, "empty reply");
    TCannedServer server({{{""}}, {{"HTTP/1.0 200 OK\r\n\r\nx"}}});
    TRecordingHttp http;
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"Connection closed without a response", 404}));
    ASSERT_TRUE(http.WaitDone(1));
    EXPECT_EQ(http.DoneError, httperrIncomplete);

    http.Cli->OnCommand = [](TObject*, std::string& s) {
        if (s.rfind("Host", 0) == 0) throw Exception("no host line today");
    };
    EXPECT_EQ(http.Get(Url(server, "/")),
              (TResult{"Can't send the request: no host line today", 404}));
    ASSERT_TRUE(http.WaitDone(2));
    EXPECT_EQ(http.DoneError, httperrSendFailed);
}

TEST(HttpWire, LookupAndConnectFailuresAre404WithTheirReason) {
    Watchdog dog(20, "local failures");
    TRecordingHttp http;
    // Nothing listens on a port taken and released a moment ago.
    const std::string port = std::to_string(FreeTcpPort());
    const auto refused = http.Get("http://127.0.0.1:" + port + "/");
    EXPECT_EQ(refused.second, 404);
    EXPECT_NE(refused.first.find("(Error #10061)"), std::string::npos) << refused.first;
    ASSERT_TRUE(http.WaitDone(1));
    EXPECT_EQ(http.DoneError, 10061);

    // An address without a host cannot be looked up.
    EXPECT_EQ(http.Get("/just/a/path"), (TResult{"can't resolve hostname to IP address", 404}));
    ASSERT_TRUE(http.WaitDone(2));
    EXPECT_NE(http.DoneError, 0);
    EXPECT_EQ(http.Cli->State(), hsReady);
}

} // namespace

namespace {

TEST(HttpWire, HandlersThatPumpMessagesLoseAndReorderNothing) {
    Watchdog dog(30, "pumping handlers");
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 31) ^ (i >> 9));
    TCannedReply reply{{"HTTP/1.0 200 OK\r\nX-A: 1\r\n\r\n"}, 1};
    for (size_t pos = 0; pos < big.size(); pos += 7000)
        reply.Pieces.push_back(big.substr(pos, 7000));
    TCannedServer server({reply});
    TRecordingHttp http;
    http.Recording = false;
    // A progress display that keeps the window alive from inside the events.
    http.Cli->OnHeaderData = [](TObject*) { Application.ProcessMessages(); };
    http.Cli->OnDocData = [&](TObject*, const void* data, int len) {
        http.Pieces.append(static_cast<const char*>(data), static_cast<size_t>(len));
        PumpFor(3); // long enough for the next block to arrive meanwhile
    };
    EXPECT_EQ(http.Get(Url(server, "/")), (TResult{"", 0}));
    EXPECT_TRUE(http.BodyText() == big);
    EXPECT_TRUE(http.Pieces == big);
    EXPECT_EQ(http.Cli->ReceivedBytes(), static_cast<std::int64_t>(big.size()));
}

} // namespace

namespace {

// Replies assembled from the pieces a header is made of, in random order and cut
// anywhere: every request must end, with a result, and leave the client reusable.
TEST(HttpWire, ScrambledRepliesAlwaysEndTheRequest) {
    Watchdog dog(60, "scrambled replies");
    const std::vector<std::string> tokens = {"HTTP/1.0 200 OK",
                                             "HTTP/1.1 302 Moved",
                                             "HTTP/1.0 404 No",
                                             "HTTP/1.0 x",
                                             "Content-Length: 7",
                                             "Content-Length: -3",
                                             "Location: /a",
                                             "Location: b",
                                             "Location: http://127.0.0.1:1/",
                                             "<html>",
                                             "Content-Range: bytes",
                                             "Set-Cookie:",
                                             "\r\n",
                                             "\n",
                                             "\r",
                                             std::string(1, '\0'),
                                             ":",
                                             " ",
                                             "body",
                                             std::string(3000, 'z')};
    unsigned seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    constexpr int Replies = 60;
    std::vector<TCannedReply> replies;
    for (int i = 0; i < Replies; ++i) {
        TCannedReply reply;
        std::string text;
        const unsigned count = next() % 24;
        for (unsigned t = 0; t < count; ++t) {
            text += tokens[next() % tokens.size()];
            if (next() % 10 < 7) text += "\r\n"; // mostly whole lines
        }
        for (size_t pos = 0; pos < text.size();) {
            const size_t cut = 1 + next() % 700;
            reply.Pieces.push_back(text.substr(pos, cut));
            pos += cut;
        }
        reply.PauseMs = 1;
        replies.push_back(std::move(reply));
    }
    TCannedServer server(std::move(replies));
    TRecordingHttp http;
    http.Recording = false;
    int requests = 0;
    while (server.Connections() < Replies && requests < Replies) {
        const auto result = http.Get(Url(server, "/"));
        ++requests;
        EXPECT_TRUE(result.second == 0 || result.second >= 400) << result.first;
        EXPECT_EQ(http.Cli->State(), hsReady);
    }
    ASSERT_TRUE(http.WaitDone(requests));
    PumpFor(20);
    EXPECT_EQ(http.DoneCount, requests);
}

} // namespace
