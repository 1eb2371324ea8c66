// Soak: many transfers through the fault-injecting socket library, with partial sends,
// would-block storms and resets at random points. Every document arrives whole, once and
// in order, or its transfer is reported as failed; never a cut or mixed-up document as
// a success. The CI version runs a few hundred transfers, the "soak" label thousands.

#include "../HttpTest.h"
#include "support/FaultLibrary.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

using namespace vt::test;

namespace {

#ifdef VT_SOAK_LONG
constexpr int Transfers = 20000;
#define SOAK_SUITE HttpSoakLong
#else
constexpr int Transfers = 1000;
#define SOAK_SUITE HttpSoak
#endif
constexpr int TransfersPerServer = 50;

struct TTransfer {
    std::string Document;
    std::string Reply;
    long ResetAfter = 0; // 0: no reset
    long SendMax = 0;
    bool WouldBlock = false;
};

class SOAK_SUITE : public TFaultLibraryTest {};

TTransfer MakeTransfer(std::mt19937& rng) {
    TTransfer t;
    const size_t size = rng() % 4 == 0 ? rng() % 200000 : rng() % 20000;
    t.Document.resize(size);
    for (char& c : t.Document)
        c = static_cast<char>(rng());
    const bool announced = rng() % 2 == 0;
    t.Reply = "HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\n" +
              (announced ? "Content-Length: " + std::to_string(size) + "\r\n" : std::string()) +
              "\r\n" + t.Document;
    if (rng() % 3 == 0) t.ResetAfter = 1 + static_cast<long>(rng() % (t.Reply.size() + 16));
    if (rng() % 2 == 0) t.SendMax = 1 + static_cast<long>(rng() % 64);
    t.WouldBlock = rng() % 3 == 0;
    return t;
}

TCannedReply Pieces(const std::string& reply, std::mt19937& rng) {
    TCannedReply r;
    for (size_t pos = 0; pos < reply.size();) {
        const size_t cut = 1 + rng() % 30000;
        r.Pieces.push_back(reply.substr(pos, cut));
        pos += cut;
    }
    return r;
}

TEST_F(SOAK_SUITE, EveryDocumentArrivesWholeOrItsTransferFails) {
    Watchdog dog(Transfers / 4 + 60, "soak");
    std::mt19937 rng(20261208);
    TRecordingHttp http;
    http.Recording = false;
    int successes = 0, failures = 0;
    for (int done = 0; done < Transfers; done += TransfersPerServer) {
        std::vector<TTransfer> transfers;
        std::vector<TCannedReply> replies;
        for (int i = 0; i < TransfersPerServer; ++i) {
            transfers.push_back(MakeTransfer(rng));
            replies.push_back(Pieces(transfers.back().Reply, rng));
        }
        TCannedServer server(std::move(replies));
        for (const TTransfer& t : transfers) {
            ASSERT_EQ(Set("recv.reset.after", t.ResetAfter), 0);
            ASSERT_EQ(Set("send.max", t.SendMax), 0);
            ASSERT_EQ(Set("send.wouldblock", t.WouldBlock ? 1 : 0), 0);
            http.Body.Clear();
            const int connections = server.Connections();
            const auto result = http.Get(Url(server, "/chart.gif"));
            // The next transfer must find the server serving its own reply.
            ASSERT_TRUE(PumpUntil([&] { return server.Connections() > connections; }));
            if (result.second == 0) {
                ++successes;
                ASSERT_EQ(http.Cli->StatusCode(), 200);
                ASSERT_TRUE(http.BodyText() == t.Document)
                    << "a success with " << http.BodyText().size() << " of " << t.Document.size()
                    << " bytes";
                ASSERT_FALSE(t.ResetAfter > 0 && t.ResetAfter < static_cast<long>(t.Reply.size()))
                    << "a reset inside the reply passed for a success";
            } else {
                ++failures;
                ASSERT_EQ(result.second, 404) << result.first;
                ASSERT_FALSE(result.first.empty());
            }
            ASSERT_EQ(http.Cli->State(), hsReady);
        }
    }
    ASSERT_TRUE(http.WaitDone(Transfers));
    // Both outcomes must really have been exercised.
    EXPECT_GT(successes, Transfers / 4);
    EXPECT_GT(failures, Transfers / 20);
}

} // namespace
