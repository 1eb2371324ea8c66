// The send chain under a network that takes little at a time or resets the connection
// (the fault-injecting variant of the socket library).

#include "net/NetTest.h"
#include "support/FaultLibrary.h"

#include <gtest/gtest.h>

using vt::test::PatternBytes;
using vt::test::PumpFor;
using vt::test::PumpUntil;
using vt::test::TLoopbackServer;
using vt::test::TRecordingClient;
using vt::test::Watchdog;

namespace {

class NetFaults : public vt::test::TFaultLibraryTest {
protected:
    // Sends data from a client to a non-echoing server; true when all of it arrived.
    void Transfer(const std::string& data, TLoopbackServer& server, TRecordingClient& client) {
        client.Connect(server.Port);
        ASSERT_TRUE(client.WaitConnected());
        ASSERT_EQ(client.ConnectedError, 0);
        ASSERT_TRUE(PumpUntil([&] { return server.Peers.size() == 1; }));
        for (size_t pos = 0, chunk = 777; pos < data.size(); pos += chunk)
            client.Socket->Send(data.data() + pos,
                                static_cast<int>(std::min(chunk, data.size() - pos)));
    }
};

TEST_F(NetFaults, PartialSendsLoseNoByteAndKeepOrder) {
    Watchdog dog(40, "partial sends");
    ASSERT_EQ(Set("send.max", 100), 0);
    TLoopbackServer server(false);
    TRecordingClient client;
    const std::string data = PatternBytes(200000, 5);
    long handed = 0;
    client.Socket->OnSendData = [&](TObject*, int n) {
        EXPECT_LE(n, 100);
        handed += n;
    };
    Transfer(data, server, client);
    ASSERT_TRUE(PumpUntil([&] { return server.Peer(0).Received.size() >= data.size(); }, 30000))
        << server.Peer(0).Received.size();
    EXPECT_TRUE(server.Peer(0).Received == data);
    EXPECT_EQ(handed, static_cast<long>(data.size()));
}

TEST_F(NetFaults, WouldBlockOnEveryOtherSendLosesNothing) {
    Watchdog dog(30, "would block");
    ASSERT_EQ(Set("send.wouldblock", 1), 0);
    TLoopbackServer server(false);
    TRecordingClient client;
    const std::string data = PatternBytes(100000, 9);
    int dataSent = 0;
    client.Socket->OnDataSent = [&](TObject*, WORD) { ++dataSent; };
    Transfer(data, server, client);
    ASSERT_TRUE(PumpUntil([&] { return server.Peer(0).Received.size() >= data.size(); }, 20000));
    EXPECT_TRUE(server.Peer(0).Received == data);
    EXPECT_TRUE(PumpUntil([&] { return dataSent > 0; }));
}

TEST_F(NetFaults, ResetMidSendClosesOnceWithConnectionReset) {
    Watchdog dog(30, "reset mid-send");
    ASSERT_EQ(Set("recv.reset.after", 50000), 0);
    TLoopbackServer server(false);
    TRecordingClient client;
    const std::string data = PatternBytes(4 << 20, 11);
    Transfer(data, server, client);
    ASSERT_TRUE(PumpUntil([&] { return client.ClosedCount > 0; }, 20000));
    PumpFor(200);
    EXPECT_EQ(client.ClosedCount, 1);
    EXPECT_EQ(client.ClosedError, 10054);
    EXPECT_EQ(client.Socket->State(), wsClosed);
    // What arrived before the reset is a prefix of what was sent.
    const std::string& got = server.Peer(0).Received;
    EXPECT_GE(got.size(), 50000u);
    EXPECT_LT(got.size(), data.size());
    EXPECT_TRUE(data.compare(0, got.size(), got) == 0);
}

TEST_F(NetFaults, SocketCreationFailureIsReported) {
    ASSERT_EQ(Set("socket.error", 10024), 0);
    TCustomWSocket s(nullptr);
    s.SetAddr("127.0.0.1");
    s.SetPort("9");
    try {
        s.Connect();
        FAIL() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "Error 10024 in function Connect (socket)\r\nToo many open files");
    }
    EXPECT_EQ(s.LastError(), 10024);
    EXPECT_EQ(s.State(), wsClosed);

    // With OnError assigned the same failure raises nothing; LastError tells the cause.
    int errors = 0;
    s.OnError = [&](TObject*) { ++errors; };
    ASSERT_EQ(Set("socket.error", 10055), 0);
    EXPECT_NO_THROW(s.Connect());
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.LastError(), 10055);
}

TEST_F(NetFaults, FailedLookupArrivesAsError) {
    Watchdog dog(10, "failed lookup");
    ASSERT_EQ(Set("lookup.error", 11001), 0);
    TCustomWSocket s(nullptr);
    std::vector<WORD> errors;
    s.OnDnsLookupDone = [&](TObject*, WORD e) { errors.push_back(e); };
    s.DnsLookup("name.that.is.never.asked");
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors, std::vector<WORD>{11001});
    EXPECT_EQ(s.DnsResult(), "");
}

} // namespace
