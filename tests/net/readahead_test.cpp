// Reads served from the socket library's read-ahead (the fault-injecting variant holds
// the same code): every byte arrives once and in order, whatever the sizes of the reads,
// with peeks and byte counts in between, a slow reader, a close or a reset.

#include "net/NetTest.h"
#include "net/Winsock32.h"
#include "support/FaultLibrary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <vector>

using vt::test::PatternBytes;
using vt::test::PumpFor;
using vt::test::PumpUntil;
using vt::test::TLoopbackServer;
using vt::test::Watchdog;

namespace {

class NetReadAhead : public vt::test::TFaultLibraryTest {
protected:
    // The sockets live on the library the fixture loads, and go before it is unloaded.
    void SetUp() override {
        TFaultLibraryTest::SetUp();
        Server = std::make_unique<TLoopbackServer>(false);
        Client = std::make_unique<TCustomWSocket>(nullptr);
    }
    void TearDown() override {
        Client.reset();
        Server.reset();
        TFaultLibraryTest::TearDown();
    }

    // Connects the client to the server and sends Data to it from the server's side.
    void Start(const std::string& Data) {
        Client->OnSessionConnected = [this](TObject*, WORD error) { Connected = error == 0; };
        Client->OnSessionClosed = [this](TObject*, WORD error) {
            ++ClosedCount;
            ClosedError = error;
            ReceivedAtClose = Got.size();
        };
        Client->SetAddr("127.0.0.1");
        Client->SetPort(Server->Port);
        Client->Connect();
        ASSERT_TRUE(PumpUntil([this] { return Connected && Server->Peers.size() == 1; }));
        Server->Peer(0).Socket->Send(Data.data(), static_cast<int>(Data.size()));
    }

    std::unique_ptr<TLoopbackServer> Server;
    std::unique_ptr<TCustomWSocket> Client;
    std::string Got;
    std::vector<char> Buffer = std::vector<char>(300000);
    bool Connected = false;
    int ClosedCount = 0;
    WORD ClosedError = 0xFFFF;
    size_t ReceivedAtClose = 0;
};

TEST_F(NetReadAhead, ReadsOfAnySizeWithPeeksSeeEveryByteOnceInOrder) {
    Watchdog dog(40, "read-ahead sizes");
    const std::string data = PatternBytes(3 << 20, 21);
    // Below, at and above the library's block, and the client's own 8 KiB.
    const int sizes[] = {1, 7, 8192, 3000, 200000, 65537, 131072, 131073};
    size_t turn = 0;
    int peeks = 0;
    Client->OnDataAvailable = [&](TObject*, WORD) {
        const int size = sizes[turn++ % std::size(sizes)];
        if (turn % 3 == 0) {
            // A peek shows the bytes that come next and takes none of them.
            const int n = vt::wsapi::recv(Client->SocketHandle(), Buffer.data(), size, MSG_PEEK);
            if (n > 0) {
                ++peeks;
                EXPECT_EQ(data.compare(Got.size(), static_cast<size_t>(n), Buffer.data(),
                                       static_cast<size_t>(n)),
                          0)
                    << "peek at " << Got.size();
            }
        }
        const int n = Client->Receive(Buffer.data(), size);
        if (n > 0) Got.append(Buffer.data(), static_cast<size_t>(n));
    };
    Start(data);
    ASSERT_TRUE(PumpUntil([&] { return Got.size() >= data.size(); }, 30000)) << Got.size();
    EXPECT_TRUE(Got == data);
    EXPECT_GT(peeks, 0);
    // Nothing is held back or counted twice.
    EXPECT_EQ(Client->RcvdCount(), 0);
}

TEST_F(NetReadAhead, SlowReaderGetsEverythingAndTheCloseAfterIt) {
    // One small read per notification: most of the bytes wait in the library between
    // notifications. Once the peer has sent everything and says nothing more, only the
    // held bytes are left, and their notifications must still come.
    Watchdog dog(60, "read-ahead slow reader");
    const std::string data = PatternBytes(600000, 33);
    Client->SetComponentOptions({wsoNoReceiveLoop});
    int counted = 0;
    Client->OnDataAvailable = [&](TObject*, WORD) {
        // The count a reader sees covers the bytes the library holds.
        if (Client->RcvdCount() > 0) ++counted;
        const int n = Client->Receive(Buffer.data(), 1000);
        if (n > 0) Got.append(Buffer.data(), static_cast<size_t>(n));
    };
    Start(data);
    ASSERT_TRUE(PumpUntil([&] { return Got.size() >= data.size(); }, 20000)) << Got.size();
    EXPECT_TRUE(Got == data);
    EXPECT_GE(counted, 600);
    EXPECT_EQ(ClosedCount, 0);
    Server->Peer(0).Socket->Shutdown(1);
    ASSERT_TRUE(PumpUntil([&] { return ClosedCount > 0; }));
    PumpFor(100);
    EXPECT_EQ(ClosedCount, 1);
    EXPECT_EQ(ClosedError, 0);
    EXPECT_EQ(ReceivedAtClose, data.size());
}

TEST_F(NetReadAhead, ResetAfterCountedBytesDeliversExactlyThoseBytes) {
    // The library holds more than the reset allows: the reader still gets exactly the
    // bytes before it, then the reset.
    Watchdog dog(30, "read-ahead reset");
    ASSERT_EQ(Set("recv.reset.after", 100001), 0);
    const std::string data = PatternBytes(1 << 20, 44);
    Client->OnDataAvailable = [&](TObject*, WORD) {
        const int n = Client->Receive(Buffer.data(), 8192);
        if (n > 0) Got.append(Buffer.data(), static_cast<size_t>(n));
    };
    Start(data);
    ASSERT_TRUE(PumpUntil([&] { return ClosedCount > 0; }, 20000)) << Got.size();
    PumpFor(100);
    EXPECT_EQ(ClosedCount, 1);
    EXPECT_EQ(ClosedError, 10054);
    EXPECT_EQ(Got.size(), 100001u);
    EXPECT_TRUE(data.compare(0, Got.size(), Got) == 0);
}

} // namespace
