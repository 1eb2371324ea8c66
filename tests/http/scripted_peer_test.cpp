// The client against the scripted socket library (the fuzz targets' peer): replies cut
// into single bytes, pauses, resets and refusals played without any real socket. The
// cases the fuzzers found live here too.

#include "HttpTest.h"
#include "net/Winsock32.h"
#include "platform/winsock/ScriptControl.h"

#include <gtest/gtest.h>

using namespace vt::test;

namespace {

using TResult = std::pair<std::string, int>;

class HttpScripted : public ::testing::Test {
protected:
    void SetUp() override {
        WSocketUnload();
        vt::SetWinsockLibraryName("wsock32-script.dll");
        Play = reinterpret_cast<VtScriptPlayProc>(WSocketLoadProc("VtScriptPlay"));
        Sent = reinterpret_cast<VtScriptSentProc>(WSocketLoadProc("VtScriptSent"));
        ASSERT_TRUE(Play && Sent);
    }
    void TearDown() override {
        vt::SetWinsockLibraryName("");
        WSocketUnload();
    }
    void PlayScript(const std::string& script) {
        Play(reinterpret_cast<const unsigned char*>(script.data()),
             static_cast<int>(script.size()));
    }
    std::string SentText() {
        int len = 0;
        const char* data = Sent(&len);
        return std::string(data, static_cast<size_t>(len));
    }
    // Script steps: the peer sends text (in steps of at most 256 bytes), closes, resets.
    static std::string Data(const std::string& text) {
        std::string out;
        for (size_t i = 0; i < text.size(); i += 256) {
            const std::string piece = text.substr(i, 256);
            out += '\0';
            out += static_cast<char>(piece.size() - 1);
            out += piece;
        }
        return out;
    }
    static std::string Limit(int n) { return std::string{'\3', static_cast<char>(n)}; }
    static constexpr char Close = '\1';
    static constexpr char Reset = '\2';
    static constexpr char Refuse = '\4';
    static constexpr char Pause = '\5';

    Watchdog Dog{20, "scripted peer"};
    VtScriptPlayProc Play = nullptr;
    VtScriptSentProc Sent = nullptr;
};

TEST_F(HttpScripted, AReplyReadOneByteAtATimeArrivesWhole) {
    const std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello";
    PlayScript(Limit(1) + Data(reply.substr(0, 20)) + Pause + Data(reply.substr(20)) + Close);
    TRecordingHttp http;
    EXPECT_EQ(http.Get("http://chart.test/c.gif"), (TResult{"", 0}));
    EXPECT_EQ(http.BodyText(), "hello");
    EXPECT_EQ(SentText(), "GET /c.gif HTTP/1.0\r\n" + DefaultAccept + DefaultAgent +
                              "Host: chart.test\r\n\r\n");
}

TEST_F(HttpScripted, ResetsAndRefusalsFailTheRequest) {
    PlayScript(Data("HTTP/1.0 200 OK\r\n\r\npart") + Reset);
    TRecordingHttp http;
    EXPECT_EQ(http.Get("http://chart.test/"),
              (TResult{"Connection lost: Connection reset by peer (Error #10054)", 404}));
    EXPECT_EQ(http.BodyText(), "part");

    PlayScript(std::string(1, Refuse));
    const auto refused = http.Get("http://chart.test/");
    EXPECT_EQ(refused.second, 404);
    EXPECT_NE(refused.first.find("(Error #10061)"), std::string::npos) << refused.first;
}

} // namespace
