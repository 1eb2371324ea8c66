// The chart server on loopback: accepted connections adopted with Dup, one answer
// each, to our own HTTP client (direct and through the "proxy") and to raw clients
// that misbehave.

#include "chartservice/ChartAddress.h"
#include "chartservice/ChartPainter.h"
#include "chartservice/ChartServer.h"
#include "chartservice/GifCheck.h"
#include "chartservice/RawClient.h"
#include "http/HttpCli.h"
#include "platform/runtime/Streams.h"
#include "support/Peers.h"
#include "support/Pump.h"

#include <gtest/gtest.h>

#include <future>
#include <unistd.h>

using vt::test::PumpUntil;
using vt::test::RawExchange;
using vt::test::Watchdog;

namespace {

class ChartServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        FServer.Listen("127.0.0.1", "0");
        FPort = std::stoi(FServer.Port());
    }

    // Runs raw exchanges on threads while this thread serves the loop.
    std::vector<std::string> Exchange(std::vector<std::function<std::string()>> clients,
                                      int timeoutMs = 10000) {
        std::vector<std::future<std::string>> running;
        for (auto& client : clients)
            running.push_back(std::async(std::launch::async, client));
        EXPECT_TRUE(PumpUntil(
            [&] {
                for (auto& f : running)
                    if (f.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
                        return false;
                return true;
            },
            timeoutMs));
        std::vector<std::string> responses;
        for (auto& f : running)
            responses.push_back(f.get());
        return responses;
    }

    std::string Fetch(const std::string& url, const std::string& proxy, int& status) {
        THttpCli client(nullptr);
        client.SetURL(url);
        if (!proxy.empty()) {
            client.SetProxy("127.0.0.1");
            client.SetProxyPort(proxy);
        }
        TMemoryStream body;
        client.SetRcvdStream(&body);
        try {
            client.Get();
        } catch (const EHttpException&) {
        }
        status = client.StatusCode();
        return std::string(static_cast<const char*>(body.Memory()),
                           static_cast<std::size_t>(body.Size()));
    }

    TChartService FService{"", true};
    TChartServer FServer{FService};
    int FPort = 0;
};

} // namespace

TEST_F(ChartServerTest, OurClientGetsEachChartDirectAndThroughTheProxyForm) {
    Watchdog dog(30, "chart server");
    const std::string port = std::to_string(FPort);
    const std::string forms[] = {"/t?s=IBM", "/v?s=IBM", "/c/0b/I/IBM.gif"};
    for (const std::string& form : forms) {
        SCOPED_TRACE(form);
        int direct = 0, proxied = 0;
        const std::string a = Fetch("http://127.0.0.1:" + port + form, "", direct);
        // As a proxy the service serves the chart host's addresses itself.
        const std::string b = Fetch("http://chart.yahoo.com" + form, port, proxied);
        EXPECT_EQ(direct, 200);
        EXPECT_EQ(proxied, 200);
        EXPECT_EQ(a, b);
        EXPECT_EQ(a, FService.ChartGif(ParseChartTarget(form).Address));
        const auto gif = vt::test::DecodeWithOurReader(a);
        EXPECT_EQ(gif.Error, "");
        EXPECT_EQ(gif.Width, TChartPainter::DefaultWidth);
    }
    int status = 0;
    const std::string page = Fetch("http://chart.yahoo.com/nothing", port, status);
    EXPECT_EQ(status, 404);
    // The client drops the body of a refusal; the page itself is checked on the raw wire.
    EXPECT_EQ(page, "");
    EXPECT_TRUE(PumpUntil([&] { return FServer.ConnectionCount() == 0; }));
}

TEST_F(ChartServerTest, ManyClientsAtOnceEachGetTheirOwnAnswer) {
    Watchdog dog(30, "chart server");
    std::vector<std::function<std::string()>> clients;
    for (int i = 0; i < 12; ++i)
        clients.push_back([this, i] {
            return RawExchange(FPort,
                               i % 2 ? "GET /t?s=S" + std::to_string(i) + " HTTP/1.0\r\n\r\n"
                                     : "GET /nothing/" + std::to_string(i) + " HTTP/1.0\r\n\r\n");
        });
    const auto responses = Exchange(clients);
    for (int i = 0; i < 12; ++i) {
        const std::string& r = responses[i];
        EXPECT_TRUE(r.starts_with(i % 2 ? "HTTP/1.0 200 OK\r\n" : "HTTP/1.0 404 Not Found\r\n"))
            << i << ": " << r.substr(0, 40);
        if (i % 2) {
            EXPECT_EQ(r.substr(r.find("\r\n\r\n") + 4),
                      FService.ChartGif({"S" + std::to_string(i), cpDay}));
        }
    }
    EXPECT_TRUE(PumpUntil([&] { return FServer.ConnectionCount() == 0; }));
}

TEST_F(ChartServerTest, RequestsArrivingInPiecesAndMalformedOnes) {
    Watchdog dog(30, "chart server");
    const auto responses = Exchange({
        // One byte at a time, with a bare LF line end.
        [this] { return RawExchange(FPort, "GET /v?s=IBM HTTP/1.0\nAccept: */*\n\n", 1, 2); },
        [this] { return RawExchange(FPort, "hello\r\n\r\n"); },
        // Bytes after the head (a body nobody asked for) are read and ignored.
        [this] {
            return RawExchange(FPort, "GET /t?s=X HTTP/1.0\r\n\r\n" + std::string(50000, 'x'));
        },
        // A head that never ends is cut off at the limit.
        [this] {
            return RawExchange(FPort, "GET /t?s=IBM HTTP/1.0\r\n" + std::string(20000, 'h'));
        },
    });
    EXPECT_TRUE(responses[0].starts_with("HTTP/1.0 200 OK\r\n")) << responses[0].substr(0, 40);
    EXPECT_TRUE(responses[1].starts_with("HTTP/1.0 400 Bad Request\r\n"));
    EXPECT_TRUE(responses[2].starts_with("HTTP/1.0 200 OK\r\n")) << responses[2].substr(0, 40);
    EXPECT_TRUE(responses[3].starts_with("HTTP/1.0 400 Bad Request\r\n"));
    EXPECT_NE(responses[3].find("The request header is too large."), std::string::npos);
    EXPECT_TRUE(PumpUntil([&] { return FServer.ConnectionCount() == 0; }));
}

TEST_F(ChartServerTest, SilentClientsAreDroppedAndExtraClientsTurnedAway) {
    Watchdog dog(30, "chart server");
    FServer.SetTimeoutMs(600);
    FServer.SetMaxClients(2);
    const auto started = std::chrono::steady_clock::now();
    const auto responses = Exchange({
        [this] { return RawExchange(FPort, "GET /t?s=IBM HTTP/1.0\r\n"); }, // never ends
        [this] { return RawExchange(FPort, "GET /t?s=IBM HTTP/1.0\r\n"); },
        [this] {
            ::usleep(200000); // after the first two are in
            return RawExchange(FPort, "GET /t?s=IBM HTTP/1.0\r\n\r\n");
        },
    });
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(responses[0], "");
    EXPECT_EQ(responses[1], "");
    EXPECT_TRUE(responses[2].starts_with("HTTP/1.0 503 Service Unavailable\r\n"))
        << responses[2].substr(0, 40);
    EXPECT_GE(took, std::chrono::milliseconds(500));
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_TRUE(PumpUntil([&] { return FServer.ConnectionCount() == 0; }));
    // The server goes on serving afterwards.
    const auto after =
        Exchange({[this] { return RawExchange(FPort, "GET /t?s=A HTTP/1.0\r\n\r\n"); }});
    EXPECT_TRUE(after[0].starts_with("HTTP/1.0 200 OK\r\n"));
}
