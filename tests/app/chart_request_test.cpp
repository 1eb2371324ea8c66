#include "app/ChartRequest.h"

#include "gif/GIFImage.h"
#include "http/HttpCli.h"
#include "platform/gdi/Picture.h"
#include "platform/runtime/Exceptions.h"
#include "support/CannedServer.h"
#include "support/Peers.h"
#include "support/Pump.h"

#include <gtest/gtest.h>
#include <unistd.h>

using vt::test::ReadFile;
using vt::test::TCannedReply;
using vt::test::TCannedServer;

TEST(AppChartAddress, FollowsTheTrackbarPosition) {
    EXPECT_EQ(ChartAddress("IBM", 1), "http://chart.yahoo.com/t?s=IBM");
    EXPECT_EQ(ChartAddress("IBM", 2), "http://chart.yahoo.com/v?s=IBM");
    EXPECT_EQ(ChartAddress("IBM", 3), "http://ichart.yahoo.com/c/0b/I/IBM.gif");
    // Symbols go out verbatim, index prefixes included.
    EXPECT_EQ(ChartAddress("^DJI", 1), "http://chart.yahoo.com/t?s=^DJI");
    EXPECT_EQ(ChartAddress("_DJI", 3), "http://ichart.yahoo.com/c/0b/_/_DJI.gif");
    EXPECT_EQ(ChartAddress("", 3), "http://ichart.yahoo.com/c/0b//.gif");
}

TEST(AppSettingsFileName, DropsThreeCharactersWhateverTheyAre) {
    EXPECT_EQ(SettingsFileName("/opt/Tools/ChartView.EXE"), "chartview.ini");
    EXPECT_EQ(SettingsFileName("/usr/bin/VIEWER"), "vieini");
    EXPECT_EQ(SettingsFileName("/usr/bin/brenvik-vantrel"), "brenvik-vantini");
}

namespace {

std::string HttpOk(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::string kNotFound =
    "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html>no chart</html>";

// Runs each chart request in a fresh working folder, through a canned "proxy".
class AppChartRequest : public ::testing::Test {
protected:
    void SetUp() override {
        InitializeGifImg();
        FOldDir = ::getcwd(nullptr, 0);
        FDir = vt::test::MakeTempDir("vt-app");
        ASSERT_EQ(::chdir(FDir.c_str()), 0);
        FChartA = ReadFile(vt::test::SourceDir() + "/tests/data/gif/rose_c256.gif");
        FChartB = ReadFile(vt::test::SourceDir() + "/tests/data/gif/rose_c4.gif");
        ASSERT_FALSE(FChartA.empty());
        ASSERT_FALSE(FChartB.empty());
    }
    void TearDown() override {
        if (FOldDir) {
            EXPECT_EQ(::chdir(FOldDir), 0);
            ::free(FOldDir);
        }
        vt::test::RemoveTree(FDir);
    }

    TChartResult Run(TCannedServer& proxy, const std::string& symbol, int position) {
        vt::test::Watchdog watchdog(20, "chart request");
        THttpCli client(nullptr);
        client.SetProxy("127.0.0.1");
        client.SetProxyPort(proxy.Port());
        FProgress.clear();
        return RunChartRequest(client, FPicture, symbol, position,
                               [this](const std::string& text) { FProgress.push_back(text); });
    }

    static bool Exists(const std::string& name) { return ::access(name.c_str(), F_OK) == 0; }

    char* FOldDir = nullptr;
    std::string FDir, FChartA, FChartB;
    TPicture FPicture;
    std::vector<std::string> FProgress;
};

} // namespace

TEST_F(AppChartRequest, DownloadsIntoTheSymbolFileAndShowsIt) {
    TCannedServer proxy({{{HttpOk(FChartA)}}});
    const TChartResult result = Run(proxy, "IBM", 3);

    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].substr(0, proxy.Requests()[0].find("\r\n")),
              "GET http://ichart.yahoo.com/c/0b/I/IBM.gif HTTP/1.0");
    EXPECT_TRUE(result.Shown);
    EXPECT_EQ(result.Progress, "Received " + std::to_string(FChartA.size()) + " bytes");
    EXPECT_EQ(FProgress, (std::vector<std::string>{"Loading", result.Progress}));
    EXPECT_EQ(ReadFile("IBM.gif"), FChartA);
    EXPECT_FALSE(Exists("IBM.bak"));
    EXPECT_GT(FPicture.Width(), 0);
}

TEST_F(AppChartRequest, ASecondDownloadKeepsTheFirstAsBackup) {
    TCannedServer proxy({{{HttpOk(FChartA)}}, {{HttpOk(FChartB)}}});
    ASSERT_TRUE(Run(proxy, "IBM", 1).Shown);
    ASSERT_TRUE(Run(proxy, "IBM", 1).Shown);

    EXPECT_EQ(ReadFile("IBM.gif"), FChartB);
    EXPECT_EQ(ReadFile("IBM.bak"), FChartA);
}

TEST_F(AppChartRequest, AnErrorPageBringsThePreviousChartBack) {
    TCannedServer proxy({{{HttpOk(FChartA)}}, {{kNotFound}}});
    ASSERT_TRUE(Run(proxy, "IBM", 1).Shown);
    const TChartResult result = Run(proxy, "IBM", 1);

    EXPECT_EQ(result.Progress, "Failed : 404 Not Found");
    EXPECT_TRUE(result.Shown);
    EXPECT_EQ(ReadFile("IBM.gif"), FChartA);
    EXPECT_FALSE(Exists("IBM.bak"));
}

TEST_F(AppChartRequest, AFailedFirstDownloadLeavesNoFiles) {
    TCannedServer proxy({{{kNotFound}}});
    const TChartResult result = Run(proxy, "NEW", 2);

    EXPECT_FALSE(result.Shown);
    EXPECT_EQ(FPicture.Graphic(), nullptr);
    EXPECT_FALSE(Exists("NEW.gif"));
    EXPECT_FALSE(Exists("NEW.bak"));
}

TEST_F(AppChartRequest, AChartFileThatCannotBeCreatedIsReportedBeforeAnyRequest) {
    TCannedServer proxy({{{HttpOk(FChartA)}}});
    try {
        Run(proxy, "missing-folder/IBM", 1);
        FAIL() << "expected EFCreateError";
    } catch (const EFCreateError& error) {
        EXPECT_EQ(error.Message(), "Cannot create file missing-folder/IBM.gif");
    }
    EXPECT_EQ(proxy.Connections(), 0);
}
