// The socket layer under unlucky timing: an echo that meets a reset, a reader that
// takes SOCKS trailing bytes one at a time while the peer closes, a handler that closes
// during the final read, and a handler that pumps while the peer closes.

#include "net/WSocket.h"
#include "net/interop/LoopbackPeer.h"
#include "platform/messages/Application.h"
#include "support/CannedServer.h"
#include "support/FaultLibrary.h"
#include "support/Pump.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using vt::test::PumpUntil;
using vt::test::TScriptedServer;
using vt::test::TStep;

namespace {

constexpr WORD ConnectionReset = 10054;

struct TClient {
    TClient() {
        Socket->OnSessionClosed = [this](TObject*, WORD error) {
            ++Closed;
            ClosedError = error;
        };
    }
    void Connect(const std::string& port) {
        Socket->SetAddr("127.0.0.1");
        Socket->SetPort(port);
        Socket->Connect();
    }
    std::unique_ptr<TWSocket> Socket = std::make_unique<TWSocket>(nullptr);
    std::string Data;
    int Closed = 0;
    WORD ClosedError = 0;
};

class NetHardening : public vt::test::TFaultLibraryTest {
protected:
    vt::test::Watchdog Dog{30, "socket hardening"};
};

// The echo's send fails with a reset, which closes the socket at once: the line code
// must not go on with the buffer the close released.
TEST_F(NetHardening, AnEchoThatMeetsAResetEndsTheLineCodeCleanly) {
    for (const bool edit : {false, true}) {
        SCOPED_TRACE(edit ? "line edit" : "line echo");
        ASSERT_EQ(Set("recv.reset.after", 5), 0);
        TScriptedServer server({TStep::Out("ab\bc\r\nmore"), TStep::Wait(200)});
        TClient client;
        client.Socket->SetLineMode(true);
        client.Socket->SetLineEcho(true);
        client.Socket->SetLineEdit(edit);
        client.Socket->OnDataAvailable = [&](TObject*, WORD) {
            char buf[64];
            const int n = client.Socket->Receive(buf, sizeof buf);
            if (n > 0) client.Data.append(buf, static_cast<size_t>(n));
        };
        client.Connect(server.Port());
        ASSERT_TRUE(PumpUntil([&] { return client.Closed > 0; }));
        vt::test::PumpFor(30);
        EXPECT_EQ(client.Closed, 1);
        EXPECT_EQ(client.ClosedError, ConnectionReset);
        EXPECT_EQ(client.Socket->State(), wsClosed);
        ASSERT_EQ(Set("recv.reset.after", 0), 0);
    }
}

TEST(NetHardeningPeer, Socks5TrailingBytesReadOneAtATimeSurviveTheClose) {
    vt::test::Watchdog dog(30, "socks trailing bytes");
    const std::string granted = {5, 0, 0, 1, 127, 0, 0, 1, 0x04, 0x38};
    const std::string request = {5, 1, 0, 1, 127, 0, 0, 1, 0x1F, static_cast<char>(0x90)};
    TScriptedServer proxy({TStep::In(std::string{5, 1, 0}), TStep::Out(std::string{5, 0}),
                           TStep::In(request), TStep::Out(granted + "abc"), TStep::Hangup()});
    TClient client;
    client.Socket->OnDataAvailable = [&](TObject*, WORD) {
        char one = 0;
        if (client.Socket->Receive(&one, 1) == 1) client.Data += one;
    };
    client.Socket->SetSocksServer("127.0.0.1");
    client.Socket->SetSocksPort(proxy.Port());
    client.Socket->SetSocksLevel("5");
    client.Socket->SetAddr("127.0.0.1");
    client.Socket->SetPort("8080");
    client.Socket->Connect();
    ASSERT_TRUE(PumpUntil([&] { return client.Closed > 0; }));
    EXPECT_EQ(client.Data, "abc");
    EXPECT_EQ(client.Closed, 1);
}

TEST(NetHardeningPeer, AHandlerThatClosesDuringTheFinalReadHearsOfTheCloseOnce) {
    vt::test::Watchdog dog(30, "close in final read");
    // The reply ends in a reset, which is reported at once, with the data still unread.
    vt::test::TCannedReply reply{{"data"}};
    reply.Reset = true;
    vt::test::TCannedServer server({reply});
    TClient client;
    int calls = 0;
    client.Socket->OnSessionConnected = [&](TObject*, WORD) {
        client.Socket->SendString("GET / HTTP/1.0\r\n\r\n");
    };
    client.Socket->OnDataAvailable = [&](TObject*, WORD) {
        // The first notification leaves the bytes; the read at the close takes them
        // and closes from inside the handler.
        if (++calls == 1) return;
        char buf[16];
        const int n = client.Socket->Receive(buf, sizeof buf);
        if (n > 0) client.Data.append(buf, static_cast<size_t>(n));
        client.Socket->Close();
    };
    client.Connect(server.Port());
    ASSERT_TRUE(PumpUntil([&] { return client.Closed > 0; }));
    vt::test::PumpFor(50);
    EXPECT_EQ(client.Data, "data");
    EXPECT_EQ(client.Closed, 1);
}

TEST(NetHardeningPeer, AClosePumpedInsideADataHandlerWaitsUntilItReturns) {
    vt::test::Watchdog dog(30, "close while pumping");
    const std::string tail(100000, 't');
    TScriptedServer server(
        {TStep::Out("head"), TStep::Wait(50), TStep::Out(tail), TStep::Hangup()});
    TClient client;
    bool inHandler = false;
    bool closedInside = false;
    client.Socket->OnSessionClosed = [&](TObject*, WORD error) {
        closedInside = closedInside || inHandler;
        ++client.Closed;
        client.ClosedError = error;
    };
    client.Socket->OnDataAvailable = [&](TObject*, WORD) {
        if (inHandler) return; // the outer call reads on
        inHandler = true;
        char buf[4096];
        int n;
        while ((n = client.Socket->Receive(buf, sizeof buf)) > 0) {
            client.Data.append(buf, static_cast<size_t>(n));
            vt::test::PumpFor(2); // a progress display
        }
        inHandler = false;
    };
    client.Connect(server.Port());
    ASSERT_TRUE(PumpUntil([&] { return client.Closed > 0; }));
    EXPECT_FALSE(closedInside);
    EXPECT_EQ(client.Data, "head" + tail);
    EXPECT_EQ(client.Closed, 1);
}

} // namespace
