// The service program as the run script starts it, asked by curl directly and as a
// proxy; its charts decode to the same pixels in Pillow as in our reader.

#include "chartservice/GifCheck.h"
#include "support/Peers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

using namespace vt::test;

namespace {

class ChartProgram : public ::testing::Test {
protected:
    void SetUp() override {
        FDir = MakeTempDir("vt-chartprogram");
        ::mkdir((FDir + "/data").c_str(), 0700);
        WriteFile(FDir + "/data/ACME.csv", "Date,Open,High,Low,Close,Volume\n"
                                           "2024-06-12,10,11,9,10.5,100\n"
                                           "2024-06-13,10.5,12,10,11.8,300\n"
                                           "bad line\n"
                                           "2024-06-14,11.8,11.9,8,8.5,200\n");
        FCurl = FindProgram("curl");
        ASSERT_FALSE(FCurl.empty()) << "curl is missing (tools/deps.sh installs it)";
    }
    void TearDown() override {
        FProgram.Stop(2);
        RemoveTree(FDir);
    }

    // Starts the program and reads its port from the line it prints when ready.
    void Start(std::vector<std::string> extra) {
        std::vector<std::string> argv = {std::string(std::getenv("VT_BIN_DIR")) +
                                             "/brenvik-chartservice",
                                         "--port", "0", "--data", FDir + "/data"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        FProgram.Start(argv, FDir + "/service.log");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < deadline && FPort.empty()) {
            const std::string log = FProgram.Log();
            const std::size_t at = log.find("listening on http://127.0.0.1:");
            if (at != std::string::npos && log.find("/\n", at) != std::string::npos)
                FPort = log.substr(at + 30, log.find("/\n", at) - at - 30);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_FALSE(FPort.empty()) << FProgram.Log();
    }

    // Runs curl; returns the status code and leaves the body in Body.
    int Curl(const std::string& url, bool viaProxy, std::string& body) {
        const std::string out = FDir + "/body", code = FDir + "/code";
        std::string command =
            FCurl + " -s --max-time 10 --http1.0 -o " + out + " -w '%{http_code}' ";
        if (viaProxy) command += "-x http://127.0.0.1:" + FPort + " ";
        command += "'" + url + "' > " + code;
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        body = ReadFile(out);
        return std::atoi(ReadFile(code).c_str());
    }

    std::string FDir, FCurl, FPort;
    PeerProcess FProgram;
};

} // namespace

TEST_F(ChartProgram, ServesCurlDirectAndAsProxyWithPixelsPillowAgreesOn) {
    Start({"--log"});
    std::string direct, proxied, yearly;
    ASSERT_EQ(Curl("http://127.0.0.1:" + FPort + "/v?s=ACME", false, direct), 200);
    ASSERT_EQ(Curl("http://chart.yahoo.com/v?s=ACME", true, proxied), 200);
    ASSERT_EQ(Curl("http://ichart.yahoo.com/c/0b/A/ACME.gif", true, yearly), 200);
    EXPECT_EQ(direct, proxied);
    for (const std::string* gif : {&direct, &yearly}) {
        const TDecodedGif ours = DecodeWithOurReader(*gif);
        const TDecodedGif pillow = DecodeWithPillow(*gif);
        ASSERT_EQ(ours.Error, "");
        ASSERT_EQ(pillow.Error, "");
        EXPECT_EQ(pillow.Width, 211);
        EXPECT_EQ(pillow.Height, 117);
        EXPECT_EQ(ours.Indexes, pillow.Indexes);
        EXPECT_EQ(ours.Rgb, pillow.Rgb);
    }
    // One log line per request, as the client asked.
    const std::string log = FProgram.Log();
    const std::string size = std::to_string(direct.size());
    EXPECT_NE(log.find("GET /v?s=ACME HTTP/1.0 -> 200, " + size + " bytes\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("GET http://chart.yahoo.com/v?s=ACME HTTP/1.0 -> 200, " + size + " bytes\n"),
              std::string::npos)
        << log;
    std::string page;
    EXPECT_EQ(Curl("http://127.0.0.1:" + FPort + "/t?s=../data/ACME", false, page), 400);
    EXPECT_EQ(Curl("http://127.0.0.1:" + FPort + "/favicon.ico", false, page), 404);
    EXPECT_NE(page.find("<html>"), std::string::npos);
}

TEST_F(ChartProgram, WithoutSamplesUnknownSymbolsAre404AndSigtermEndsIt) {
    Start({"--no-sample"});
    std::string body;
    EXPECT_EQ(Curl("http://chart.yahoo.com/t?s=ACME", true, body), 200);
    EXPECT_EQ(Curl("http://chart.yahoo.com/t?s=OTHER", true, body), 404);
    EXPECT_NE(body.find("OTHER: No prices for this symbol."), std::string::npos);
    ::kill(FProgram.Pid(), SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (FProgram.Running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(FProgram.Running()) << FProgram.Log();
}

TEST(ChartProgramOptions, UnknownOptionsAndTakenPortsFail) {
    const std::string program = std::string(std::getenv("VT_BIN_DIR")) + "/brenvik-chartservice";
    EXPECT_EQ(WEXITSTATUS(std::system((program + " --bogus 2>/dev/null").c_str())), 2);
    // A port something listens on already: the error is reported, the exit status is 1.
    const int port = FreeTcpPort();
    PeerProcess first;
    const std::string dir = MakeTempDir("vt-chartprogram");
    first.Start({program, "--port", std::to_string(port)}, dir + "/first.log");
    ASSERT_TRUE(WaitForTcpPort(port, 15000));
    EXPECT_EQ(WEXITSTATUS(std::system(
                  (program + " --port " + std::to_string(port) + " 2>/dev/null").c_str())),
              1);
    first.Stop(2);
    RemoveTree(dir);
}
