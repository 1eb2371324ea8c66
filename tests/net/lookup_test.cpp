// Asynchronous name lookups of the socket, and UDP.

#include "net/NetTest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using vt::test::PumpFor;
using vt::test::PumpUntil;
using vt::test::Watchdog;

namespace {

struct TLookupRecorder {
    explicit TLookupRecorder(TCustomWSocket& s) {
        s.OnDnsLookupDone = [this](TObject*, WORD error) { Errors.push_back(error); };
    }
    std::vector<WORD> Errors;
};

TEST(NetLookup, NameFromHostsFile) {
    Watchdog dog(15, "lookup localhost");
    TCustomWSocket s(nullptr);
    TLookupRecorder done(s);
    s.DnsLookup("localhost");
    EXPECT_TRUE(done.Errors.empty()); // answered later, from the loop
    ASSERT_TRUE(PumpUntil([&] { return !done.Errors.empty(); }, 10000));
    EXPECT_EQ(done.Errors, std::vector<WORD>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    ASSERT_GE(s.DnsResultList().Count(), 1);
    EXPECT_EQ(s.DnsResultList().Strings(0), "127.0.0.1");
}

TEST(NetLookup, NumericAddressCompletesBeforeReturning) {
    TCustomWSocket s(nullptr);
    TLookupRecorder done(s);
    s.DnsLookup("127.0.0.1");
    EXPECT_EQ(done.Errors, std::vector<WORD>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    EXPECT_EQ(s.DnsResultList().Count(), 0);
}

TEST(NetLookup, EmptyNameIsRefused) {
    TCustomWSocket s(nullptr);
    TLookupRecorder done(s);
    try {
        s.DnsLookup("");
        FAIL() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "DNS lookup: invalid host name.");
    }
    EXPECT_TRUE(done.Errors.empty());
    int errors = 0;
    s.OnError = [&](TObject*) { ++errors; };
    s.DnsLookup("");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(done.Errors, std::vector<WORD>{10022});
}

TEST(NetLookup, CancelReportsInterruptedAndTheLateAnswerIsIgnored) {
    Watchdog dog(15, "lookup cancel");
    TCustomWSocket s(nullptr);
    TLookupRecorder done(s);
    s.CancelLookup(); // nothing running: nothing happens
    EXPECT_TRUE(done.Errors.empty());
    s.DnsLookup("localhost");
    s.CancelLookup();
    EXPECT_EQ(done.Errors, std::vector<WORD>{10004});
    PumpFor(300);
    EXPECT_EQ(done.Errors, std::vector<WORD>{10004});
    EXPECT_EQ(s.DnsResult(), "");
}

TEST(NetLookup, CancelAfterTheAnswerWasPostedStillReportsACancellationOnce) {
    Watchdog dog(15, "late cancel");
    TCustomWSocket s(nullptr);
    TLookupRecorder done(s);
    s.DnsLookup("localhost");
    // Give the answer time to be posted, without dispatching it.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_NO_THROW(s.CancelLookup());
    EXPECT_EQ(done.Errors, std::vector<WORD>{10004});
    PumpFor(200);
    EXPECT_EQ(done.Errors, std::vector<WORD>{10004});
}

TEST(NetLookup, SecondLookupReplacesTheFirst) {
    Watchdog dog(15, "lookup replace");
    TCustomWSocket s(nullptr);
    TLookupRecorder done(s);
    s.DnsLookup("localhost");
    s.DnsLookup("localhost");
    ASSERT_TRUE(PumpUntil([&] { return !done.Errors.empty(); }, 10000));
    PumpFor(300);
    EXPECT_EQ(done.Errors, std::vector<WORD>{0});
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
}

TEST(NetLookup, DestroyingTheSocketCancelsSilently) {
    Watchdog dog(15, "lookup destroy");
    int calls = 0;
    {
        TCustomWSocket s(nullptr);
        s.OnDnsLookupDone = [&](TObject*, WORD) { ++calls; };
        s.DnsLookup("localhost");
    }
    PumpFor(300);
    EXPECT_EQ(calls, 0);
}

TEST(NetLookup, AddressBackToName) {
    Watchdog dog(15, "address lookup");
    TCustomWSocket s(nullptr);
    TLookupRecorder done(s);
    s.AddressLookup("127.0.0.1");
    ASSERT_TRUE(PumpUntil([&] { return !done.Errors.empty(); }, 10000));
    ASSERT_EQ(done.Errors, std::vector<WORD>{0});
    EXPECT_FALSE(s.DnsResult().empty());
    ASSERT_EQ(s.DnsResultList().Count(), 1);
    EXPECT_EQ(s.DnsResultList().Strings(0), s.DnsResult());
}

TEST(NetUdp, RoundTripThroughListenerAndConnectedSocket) {
    Watchdog dog(10, "udp");
    TCustomWSocket server(nullptr), client(nullptr);
    int serverConnected = 0, clientConnected = 0;
    server.OnSessionConnected = [&](TObject*, WORD e) { serverConnected += e == 0; };
    client.OnSessionConnected = [&](TObject*, WORD e) { clientConnected += e == 0; };
    server.SetProto("udp");
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    EXPECT_EQ(server.State(), wsConnected);
    EXPECT_EQ(serverConnected, 1);
    const std::string port = server.GetBoundPort();
    ASSERT_NE(port, "error");

    std::string atServer, atClient;
    server.OnDataAvailable = [&](TObject*, WORD) {
        char buf[2048];
        TSockAddrIn from{};
        int fromLen = sizeof(from);
        const int n = server.ReceiveFrom(buf, sizeof(buf), from, fromLen);
        if (n <= 0) return;
        atServer.assign(buf, static_cast<size_t>(n));
        const std::string reply = "re:" + atServer;
        EXPECT_EQ(server.SendTo(from, fromLen, reply.data(), static_cast<int>(reply.size())),
                  static_cast<int>(reply.size()));
    };
    client.OnDataAvailable = [&](TObject*, WORD) {
        char buf[2048];
        const int n = client.Receive(buf, sizeof(buf));
        if (n > 0) atClient.assign(buf, static_cast<size_t>(n));
    };
    client.SetProto("udp");
    client.SetAddr("127.0.0.1");
    client.SetPort(port);
    client.Connect();
    EXPECT_EQ(client.State(), wsConnected); // at once
    EXPECT_EQ(clientConnected, 1);
    EXPECT_NE(client.LocalPort(), "0");
    client.SendString("datagram one");
    ASSERT_TRUE(PumpUntil([&] { return !atClient.empty(); }));
    EXPECT_EQ(atServer, "datagram one");
    EXPECT_EQ(atClient, "re:datagram one");
}

TEST(NetUdp, BroadcastDestinationIsConnectedAtOnce) {
    TCustomWSocket s(nullptr);
    s.SetProto("udp");
    s.SetAddr("255.255.255.255");
    s.SetPort("9");
    s.Connect();
    EXPECT_EQ(s.State(), wsConnected);
}

} // namespace
