// The service's answers to request heads: the three chart addresses in origin and
// proxy form, the error replies, and which files a request may read.

#include "chartservice/ChartAddress.h"
#include "chartservice/ChartPainter.h"
#include "chartservice/ChartService.h"
#include "chartservice/GifCheck.h"
#include "support/Peers.h"

#include <gtest/gtest.h>

#include <unistd.h>

using vt::test::WriteFile;

namespace {

struct TParsedReply {
    int Status = 0;
    std::string Head;
    std::string Body;
};

TParsedReply Parse(const std::string& response) {
    TParsedReply reply;
    const std::size_t end = response.find("\r\n\r\n");
    EXPECT_NE(end, std::string::npos) << response;
    reply.Head = response.substr(0, end + 4);
    reply.Body = response.substr(end + 4);
    if (response.starts_with("HTTP/1.0 ")) reply.Status = std::stoi(response.substr(9, 3));
    EXPECT_NE(reply.Head.find("Content-Length: " + std::to_string(reply.Body.size()) + "\r\n"),
              std::string::npos)
        << reply.Head;
    return reply;
}

TParsedReply Get(const TChartService& service, const std::string& target) {
    return Parse(service.Respond("GET " + target + " HTTP/1.0\r\nHost: x\r\n\r\n"));
}

// How many pixels of the chart have the given colour.
int CountColour(const vt::test::TDecodedGif& gif, TChartPainter::TChartColor colour) {
    const TRgb want = TChartPainter::Palette()[colour];
    int count = 0;
    for (std::size_t i = 0; i + 2 < gif.Rgb.size(); i += 3)
        count += gif.Rgb[i] == want.R && gif.Rgb[i + 1] == want.G && gif.Rgb[i + 2] == want.B;
    return count;
}

class ChartServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        FDir = vt::test::MakeTempDir("vt-charts");
        ::mkdir((FDir + "/data").c_str(), 0700);
        WriteFile(FDir + "/data/IBM.csv", "Date,Open,High,Low,Close,Volume\n"
                                          "2024-06-12,100,110,90,105,1000\n"
                                          "2024-06-13,105,120,100,118,3000\n"
                                          "2024-06-14,118,119,80,85,2000\n");
        WriteFile(FDir + "/data/_DJI.csv", "Date,Close\n2024-06-13,39000\n2024-06-14,39100\n");
        WriteFile(FDir + "/data/EMPTY.csv", "");
        WriteFile(FDir + "/secret.csv", "Date,Close\n2024-06-14,1\n");
    }
    void TearDown() override { vt::test::RemoveTree(FDir); }

    std::string FDir;
};

} // namespace

TEST(ChartAddress, TheThreeFormsInOriginAndProxyForm) {
    struct {
        const char* Target;
        TChartPeriod Period;
        const char* Symbol;
    } cases[] = {
        {"/t?s=IBM", cpDay, "IBM"},
        {"/v?s=IBM", cpQuarter, "IBM"},
        {"/c/0b/I/IBM.gif", cpYear, "IBM"},
        {"http://chart.yahoo.com/t?s=IBM", cpDay, "IBM"},
        {"http://chart.yahoo.com/v?s=IBM", cpQuarter, "IBM"},
        {"http://ichart.yahoo.com/c/0b/I/IBM.gif", cpYear, "IBM"},
        {"HTTP://127.0.0.1:8080/t?s=^DJI", cpDay, "^DJI"},
        {"/t?s=%5EDJI", cpDay, "^DJI"},
        {"/t?x=1&s=BRK.B&y=2", cpDay, "BRK.B"},
        {"/c/0b/_/_DJI.gif", cpYear, "_DJI"},
    };
    for (const auto& c : cases) {
        const TTarget target = ParseChartTarget(c.Target);
        EXPECT_EQ(target.Kind, tkChart) << c.Target;
        EXPECT_EQ(target.Address.Symbol, c.Symbol) << c.Target;
        EXPECT_EQ(target.Address.Period, c.Period) << c.Target;
    }
}

TEST(ChartAddress, OtherTargetsAreNotFoundOrBad) {
    for (const char* target : {"/", "/t", "/t?q=IBM", "/t?s=", "/x?s=IBM", "/c/0b/IBM.gif",
                               "/c/0b/X/IBM.gif", "/c/0b//.gif", "/c/0b/I/IBM.png", "/t/?s=IBM",
                               "http://chart.yahoo.com", "http://h?s=IBM"})
        EXPECT_EQ(ParseChartTarget(target).Kind, tkNotFound) << target;
    for (const char* target :
         {"t?s=IBM", "*", "ftp://h/t?s=IBM", "/t?s=../etc/passwd", "/t?s=a/b", "/t?s=%2e%2e",
          "/t?s=%2Fetc", "/t?s=%zz", "/t?s=IBM%", "/t?s=I%00", "/t?s=..", "/t?s=IBM;rm",
          "/c/0b/./..gif", "/t?s=ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456"})
        EXPECT_EQ(ParseChartTarget(target).Kind, tkBadRequest) << target;
}

TEST_F(ChartServiceTest, ServesTheSymbolsPricesAsAGifChart) {
    const TChartService service(FDir + "/data", true);
    for (const char* target :
         {"/t?s=IBM", "/v?s=IBM", "/c/0b/I/IBM.gif", "http://ichart.yahoo.com/c/0b/I/IBM.gif"}) {
        SCOPED_TRACE(target);
        const TParsedReply reply = Get(service, target);
        EXPECT_EQ(reply.Status, 200);
        EXPECT_NE(reply.Head.find("Content-Type: image/gif\r\n"), std::string::npos);
        const auto gif = vt::test::DecodeWithOurReader(reply.Body);
        ASSERT_EQ(gif.Error, "");
        EXPECT_EQ(gif.Width, TChartPainter::DefaultWidth);
        EXPECT_EQ(gif.Height, TChartPainter::DefaultHeight);
        EXPECT_GT(CountColour(gif, TChartPainter::ccPrice), 20);  // the price line
        EXPECT_GT(CountColour(gif, TChartPainter::ccVolume), 20); // volume bars
        EXPECT_GT(CountColour(gif, TChartPainter::ccText), 40);   // symbol, axis labels
        EXPECT_EQ(CountColour(gif, TChartPainter::ccSample), 0);  // real data
    }
    // Index symbols find their file under either prefix.
    EXPECT_EQ(Get(service, "/t?s=^DJI").Status, 200);
    EXPECT_EQ(Get(service, "/c/0b/_/_DJI.gif").Status, 200);
    EXPECT_EQ(service.PriceFile("^DJI"), FDir + "/data/_DJI.csv");
    // A symbol typed in lower case finds the file named in capitals.
    EXPECT_EQ(service.PriceFile("ibm"), FDir + "/data/IBM.csv");
    EXPECT_EQ(service.PriceFile("^dji"), FDir + "/data/_DJI.csv");
}

TEST_F(ChartServiceTest, UnknownSymbolsGetMarkedSamplesOr404) {
    const TChartService samples(FDir + "/data", true);
    const TParsedReply sample = Get(samples, "/v?s=MSFT");
    ASSERT_EQ(sample.Status, 200);
    const auto gif = vt::test::DecodeWithOurReader(sample.Body);
    EXPECT_GT(CountColour(gif, TChartPainter::ccSample), 20); // "sample data"
    EXPECT_GT(CountColour(gif, TChartPainter::ccPrice), 20);
    // The same request draws the same chart.
    EXPECT_EQ(Get(samples, "/v?s=MSFT").Body, sample.Body);
    EXPECT_NE(Get(samples, "/t?s=MSFT").Body, sample.Body);

    const TChartService strict(FDir + "/data", false);
    const TParsedReply missing = Get(strict, "/v?s=MSFT");
    EXPECT_EQ(missing.Status, 404);
    EXPECT_NE(missing.Head.find("Content-Type: text/html\r\n"), std::string::npos);
    EXPECT_NE(missing.Body.find("MSFT: No prices for this symbol."), std::string::npos);
    EXPECT_EQ(Get(strict, "/t?s=IBM").Status, 200);
    // Without a data folder every chart is a sample.
    EXPECT_EQ(Get(TChartService("", true), "/t?s=IBM").Status, 200);
}

TEST_F(ChartServiceTest, AnUnusablePriceFileIs404WithItsReason) {
    const TChartService service(FDir + "/data", true);
    const TParsedReply reply = Get(service, "/t?s=EMPTY");
    EXPECT_EQ(reply.Status, 404);
    EXPECT_NE(reply.Body.find("EMPTY: The price file is empty."), std::string::npos);
}

TEST_F(ChartServiceTest, NoRequestReadsAFileOutsideTheDataFolder) {
    const TChartService service(FDir + "/data", false);
    // A link inside the folder that leads out of it is not followed.
    ASSERT_EQ(::symlink((FDir + "/secret.csv").c_str(), (FDir + "/data/LEAK.csv").c_str()), 0);
    EXPECT_EQ(service.PriceFile("LEAK"), "");
    EXPECT_EQ(Get(service, "/t?s=LEAK").Status, 404);
    for (const char* target : {"/t?s=../secret", "/t?s=%2E%2E%2Fsecret", "/c/0b/./../secret.gif",
                               "http://h/v?s=..%2fsecret", "/t?s=/etc/passwd"})
        EXPECT_EQ(Get(service, target).Status, 400) << target;
    EXPECT_EQ(service.PriceFile("../secret"), "");
    EXPECT_EQ(service.PriceFile(".."), "");
}

TEST_F(ChartServiceTest, MalformedAndUnsupportedRequests) {
    const TChartService service(FDir + "/data", true);
    for (const char* head :
         {"", "\r\n\r\n", "GET\r\n\r\n", "GET /t?s=IBM\r\n\r\n", "GET /t?s=IBM HTTP/1.0 x\r\n\r\n",
          "GET  /t?s=IBM HTTP/1.0\r\n\r\n", "GET /t?s=IBM FTP/1.0\r\n\r\n",
          "GET /t?s=IBM HTTP/1.0x\r\n\r\n", "GET /t?s=I\tBM HTTP/1.0\r\n\r\n"}) {
        const TParsedReply reply = Parse(service.Respond(head));
        EXPECT_EQ(reply.Status, 400) << head;
        EXPECT_NE(reply.Body.find("<h1>400 Bad Request</h1>"), std::string::npos);
    }
    EXPECT_EQ(Parse(service.Respond("POST /t?s=IBM HTTP/1.0\r\n\r\n")).Status, 501);
    EXPECT_EQ(Parse(service.Respond("CONNECT h:443 HTTP/1.0\r\n\r\n")).Status, 501);
    // Version 1.1 is answered in 1.0; a bare LF ends lines too.
    EXPECT_EQ(Parse(service.Respond("GET /t?s=IBM HTTP/1.1\nHost: x\n\n")).Status, 200);
    // HEAD: the header of the GET, without the body.
    const std::string head = service.Respond("HEAD /t?s=IBM HTTP/1.0\r\n\r\n");
    const std::string get = service.Respond("GET /t?s=IBM HTTP/1.0\r\n\r\n");
    EXPECT_EQ(get.substr(0, head.size()), head);
    EXPECT_TRUE(head.ends_with("\r\n\r\n"));
    EXPECT_GT(get.size(), head.size() + 100);
}

TEST(ChartReplies, ErrorPagesEscapeWhatTheyQuote) {
    const TChartReply reply = ErrorReply(404, "Not Found", "<b>&\"");
    EXPECT_NE(reply.Body.find("<p>&lt;b&gt;&amp;&quot;</p>"), std::string::npos);
    EXPECT_EQ(FormatReply(reply, true), "HTTP/1.0 404 Not Found\r\n"
                                        "Server: brenvik-chartservice\r\n"
                                        "Content-Type: text/html\r\n"
                                        "Content-Length: " +
                                            std::to_string(reply.Body.size()) +
                                            "\r\nConnection: close\r\n\r\n");
}
