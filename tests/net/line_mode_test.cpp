// Line mode against a scripted loopback peer: splitting into lines across receptions,
// echo and editing, switching modes, very long lines, and readers that misbehave.

#include "net/WSocket.h"
#include "net/interop/LoopbackPeer.h"
#include "support/Pump.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using vt::test::PumpUntil;
using vt::test::TScriptedServer;
using vt::test::TStep;
using Lines = std::vector<std::string>;

namespace {

class LineMode : public ::testing::Test {
protected:
    LineMode() {
        Socket->SetLineMode(true);
        Socket->OnDataAvailable = [this](TObject*, WORD) { TakeLine(); };
        Socket->OnSessionClosed = [this](TObject*, WORD) {
            Got.push_back("<closed>");
            ++Closed;
        };
        Socket->OnLineTooLong = [this](TObject*) { ++TooLong; };
    }
    // Takes the waiting line whole, as RcvdCount announces it.
    void TakeLine() {
        const int size = Socket->RcvdCount();
        std::string line(static_cast<size_t>(std::max(size, 0)), '\0');
        const int n = Socket->Receive(line.data(), size);
        line.resize(static_cast<size_t>(std::max(n, 0)));
        Got.push_back(line);
    }
    void Connect(TScriptedServer& server) {
        Socket->SetAddr("127.0.0.1");
        Socket->SetPort(server.Port());
        Socket->Connect();
    }
    bool WaitClosed() {
        return PumpUntil([this] { return Closed > 0; });
    }

    vt::test::Watchdog Dog{30, "line mode test"};
    std::unique_ptr<TWSocket> Socket = std::make_unique<TWSocket>(nullptr);
    Lines Got;
    int Closed = 0;
    int TooLong = 0;
};

TEST_F(LineMode, SplitsLinesWithinAndAcrossReceptions) {
    // Two lines in one block; then a line end split between two receptions; then a
    // bare LF, which is no line end for CR LF.
    TScriptedServer server({TStep::Out("one\r\ntwo\r\nthr"), TStep::Wait(80), TStep::Out("ee\r"),
                            TStep::Wait(80), TStep::Out("\nfo\nur\r\n"), TStep::Wait(80),
                            TStep::Hangup()});
    Connect(server);
    ASSERT_TRUE(WaitClosed());
    EXPECT_EQ(Got, (Lines{"one\r\n", "two\r\n", "three\r\n", "fo\nur\r\n", "<closed>"}));
}

TEST_F(LineMode, AnyLineEndMarkerWorks) {
    Socket->SetLineEnd("\n");
    TScriptedServer server({TStep::Out("a\r\nb\nc\n"), TStep::Wait(50), TStep::Hangup()});
    Connect(server);
    ASSERT_TRUE(WaitClosed());
    EXPECT_EQ(Got, (Lines{"a\r\n", "b\n", "c\n", "<closed>"}));
}

TEST_F(LineMode, ReaderTakingSmallPiecesGetsTheLineInOrder) {
    std::vector<int> sizes;
    std::string taken;
    Socket->OnDataAvailable = [&](TObject*, WORD) {
        sizes.push_back(Socket->RcvdCount());
        char buf[3];
        const int n = Socket->Receive(buf, sizeof buf);
        if (n > 0) taken.append(buf, static_cast<size_t>(n));
    };
    TScriptedServer server({TStep::Out("abcdefg\r\nxy\r\n"), TStep::Wait(50), TStep::Hangup()});
    Connect(server);
    ASSERT_TRUE(WaitClosed());
    EXPECT_EQ(taken, "abcdefg\r\nxy\r\n");
    // RcvdCount shrinks as the line is taken, and the next line starts afresh.
    EXPECT_EQ(sizes, (std::vector<int>{9, 6, 3, 4, 1}));
}

TEST_F(LineMode, UnterminatedRestIsDeliveredOnceBeforeTheClose) {
    TScriptedServer server({TStep::Out("full\r\npartial"), TStep::Wait(50), TStep::Hangup()});
    Connect(server);
    ASSERT_TRUE(WaitClosed());
    EXPECT_EQ(Got, (Lines{"full\r\n", "partial", "<closed>"}));
}

TEST_F(LineMode, EditingAppliesBackspaceAndTabAndEchoesTheEdits) {
    Socket->SetLineEdit(true);
    Socket->SetLineEcho(true);
    // a, b, backspace, c, CR LF; then a tab after two characters; then a backspace that
    // erases a byte of an earlier reception.
    TScriptedServer server({TStep::Out("ab\bc\r\n"), TStep::Wait(50), TStep::Out("xy\tz\r\n"),
                            TStep::Wait(50), TStep::Out("pq"), TStep::Wait(80),
                            TStep::Out("\br\r\n"),
                            TStep::In("ab\b \bc\r\nxy      z\r\npq\b \br\r\n")});
    Connect(server);
    ASSERT_TRUE(PumpUntil([&] { return Got.size() == 3 && server.Received().size() == 1; }));
    EXPECT_EQ(Got, (Lines{"ac\r\n", "xy      z\r\n", "pr\r\n"}));
    EXPECT_EQ(server.Received()[0], "ab\b \bc\r\nxy      z\r\npq\b \br\r\n");
}

TEST_F(LineMode, EchoWithoutEditingSendsEveryByteBackUnchanged) {
    Socket->SetLineEcho(true);
    const std::string sent = "ab\bc\td\r\nrest";
    TScriptedServer server({TStep::Out(sent), TStep::In(sent)});
    Connect(server);
    ASSERT_TRUE(PumpUntil([&] { return server.Received().size() == 1; }));
    EXPECT_EQ(server.Received()[0], sent);
    EXPECT_EQ(Got, (Lines{"ab\bc\td\r\n"}));
}

TEST_F(LineMode, ReaderThatTakesNothingIsNotCalledWithoutEnd) {
    int calls = 0;
    Socket->OnDataAvailable = [&](TObject*, WORD) { ++calls; };
    TScriptedServer server({TStep::Out("one\r\ntwo\r\n"), TStep::In("x"), TStep::Out("three\r\n"),
                            TStep::Wait(50), TStep::Hangup()});
    Connect(server);
    ASSERT_TRUE(PumpUntil([&] { return calls >= 1; }));
    vt::test::PumpFor(100);
    EXPECT_EQ(calls, 1) << "the line was offered again without new data";
    // The reader mends its ways: the held lines arrive in order with the next data.
    Socket->OnDataAvailable = [this](TObject*, WORD) { TakeLine(); };
    Socket->SendString("x");
    ASSERT_TRUE(WaitClosed());
    EXPECT_EQ(Got, (Lines{"one\r\n", "two\r\n", "three\r\n", "<closed>"}));
}

TEST_F(LineMode, LinesWithoutReaderAreDropped) {
    Socket->OnDataAvailable = nullptr;
    TScriptedServer server(
        {TStep::Out("lost\r\nlost too\r\nrest"), TStep::Wait(50), TStep::Hangup()});
    Connect(server);
    ASSERT_TRUE(WaitClosed());
    EXPECT_EQ(Got, (Lines{"<closed>"}));
}

TEST_F(LineMode, SwitchingModesKeepsHeldBytesInOrder) {
    // The reader leaves line mode after the first line: the rest, already held, comes
    // as plain data without waiting for the network; then it switches back.
    std::string plain;
    Socket->OnDataAvailable = [&](TObject*, WORD) {
        if (Socket->LineMode()) {
            TakeLine();
            if (Got.size() == 1) Socket->SetLineMode(false);
            return;
        }
        char buf[4];
        const int n = Socket->Receive(buf, sizeof buf);
        if (n > 0) plain.append(buf, static_cast<size_t>(n));
    };
    TScriptedServer server({TStep::Out("head\r\nbody-one\r\nbody-two"), TStep::In("go"),
                            TStep::Out("\r\nlast\r\n"), TStep::Wait(50), TStep::Hangup()});
    Connect(server);
    ASSERT_TRUE(PumpUntil([&] { return plain.size() >= 18; }));
    EXPECT_EQ(Got, (Lines{"head\r\n"}));
    EXPECT_EQ(plain, "body-one\r\nbody-two");
    Socket->SetLineMode(true);
    Socket->SendString("go");
    ASSERT_TRUE(WaitClosed());
    EXPECT_EQ(Got, (Lines{"head\r\n", "\r\n", "last\r\n", "<closed>"}));
}

TEST_F(LineMode, LineWithoutEndIsHandedOverInBoundedPieces) {
    const int max = TWSocket::MaxLineLength;
    std::string big(static_cast<size_t>(max) * 2 + 1000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 26);
    TScriptedServer server({TStep::Out(big + "\r\nnext\r\n"), TStep::Wait(50), TStep::Hangup()});
    Connect(server);
    ASSERT_TRUE(WaitClosed());
    ASSERT_EQ(Got.size(), 5u);
    EXPECT_EQ(TooLong, 2);
    EXPECT_EQ(Got[0].size(), static_cast<size_t>(max));
    EXPECT_EQ(Got[1].size(), static_cast<size_t>(max));
    EXPECT_EQ(Got[0] + Got[1] + Got[2], big + "\r\n") << "bytes lost or reordered";
    EXPECT_EQ(Got[3], "next\r\n");
}

} // namespace

namespace {

TEST_F(LineMode, ThroughSocksTheRepliesStayOutOfTheLines) {
    // Line mode is on before the proxy answers: its replies are not lines, and the
    // bytes that rode on the last reply start the first line.
    const std::string granted = {5, 0, 0, 1, 127, 0, 0, 1, 0x04, 0x38};
    const std::string request =
        std::string{5, 1, 0, 3, 9} + "127.0.0.1" + std::string{0x1F, static_cast<char>(0x90)};
    TScriptedServer proxy({TStep::In(std::string{5, 1, 0}), TStep::Out(std::string{5, 0}),
                           TStep::In(request), TStep::Out(granted + "hello\r\nwor"),
                           TStep::Wait(80), TStep::Out("ld\r\n"), TStep::Wait(50),
                           TStep::Hangup()});
    Socket->SetSocksServer("127.0.0.1");
    Socket->SetSocksPort(proxy.Port());
    Socket->SetAddr("127.0.0.1");
    Socket->SetPort("8080");
    Socket->Connect();
    ASSERT_TRUE(WaitClosed());
    EXPECT_EQ(proxy.Received().at(1), request);
    EXPECT_EQ(Got, (Lines{"hello\r\n", "world\r\n", "<closed>"}));
}

} // namespace
