// The chart request as a person makes it: type a symbol, press Enter, watch the progress
// and the picture; the disk outcomes, abort by Esc, refused symbols, the ignored second
// request.
#include "WindowFixture.h"

#include "http/HttpCli.h"
#include "platform/gdi/Picture.h"
#include "support/Peers.h"
#include "support/Pump.h"

#include <QTest>
#include <QTimer>
#include <QWidget>
#include <filesystem>

using vt::test::AppWindow;
using vt::test::Exists;
using vt::test::ReadFile;
using vt::test::TCannedReply;
using vt::test::TCannedServer;
using vt::test::WriteFile;

namespace {

const std::uint32_t kRed = 0xFF0000, kBlue = 0x0000FF, kGreen = 0x00FF00;

std::string AppGif(const std::string& name) {
    return ReadFile(vt::test::AppSourceDir() + "/tests/data/app/" + name);
}

std::string Head(std::size_t length) {
    return "HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\nContent-Length: " +
           std::to_string(length) + "\r\n\r\n";
}

TCannedReply Ok(const std::string& body) {
    return {{Head(body.size()) + body}};
}

const TCannedReply kNotFound{
    {"HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html>no chart</html>"}};

std::string RequestLine(const std::string& request) {
    return request.substr(0, request.find("\r\n"));
}

class AppChart : public AppWindow {
protected:
    void SetUp() override {
        AppWindow::SetUp();
        FHalves = AppGif("halves.gif");
        FGreen = AppGif("green.gif");
        ASSERT_FALSE(FHalves.empty());
        ASSERT_FALSE(FGreen.empty());
    }
    // Types the symbol and presses Enter; returns once the request is over.
    void Fetch(const std::string& symbol) {
        vt::test::Watchdog watchdog(20, "chart request");
        TypeSymbol(symbol);
        PressEnter();
    }
    // The picture area's left and right halves (Image1 fills 1..211 x 1..117).
    std::uint32_t Left() { return PixelAt(40, 60); }
    std::uint32_t Right() { return PixelAt(170, 60); }

    std::string FHalves, FGreen;
};

} // namespace

TEST_F(AppChart, EnterFetchesTheChartThroughTheProxyAndShowsIt) {
    const std::string head = Head(FHalves.size());
    TCannedServer proxy({{{head + FHalves.substr(0, 50), FHalves.substr(50)}, 150}});
    THttpGetForm& form = Open(ProxySettings(proxy, "vtrx"));
    RecordProgress();
    Fetch("IBM");

    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(RequestLine(proxy.Requests()[0]), "GET http://chart.yahoo.com/t?s=IBM HTTP/1.0");
    EXPECT_NE(proxy.Requests()[0].find("User-Agent: Mozilla/3.0 (compatible)\r\n"),
              std::string::npos);
    const std::string received = "Received " + std::to_string(FHalves.size()) + " bytes";
    EXPECT_EQ(form.InfoLabel->Caption(), received);
    // "Loading", a dot per head line, then the running count of document bytes.
    const std::vector<std::string> expected{
        "Loading", "Loading.", "Loading..", "Loading...", "50", std::to_string(FHalves.size())};
    EXPECT_EQ(FCaptions, expected);
    EXPECT_EQ(form.FileNameEdit->Text(), "IBM.gif");
    EXPECT_EQ(ReadFile("IBM.gif"), FHalves);
    EXPECT_FALSE(Exists("IBM.bak"));
    EXPECT_TRUE(form.GetButton->Enabled());
    EXPECT_FALSE(form.AbortButton->Visible());
    EXPECT_EQ(form.Panel2->Caption(), "");
    EXPECT_EQ(Left(), kRed);
    EXPECT_EQ(Right(), kBlue);
    EXPECT_TRUE(FErrors.empty());
}

TEST_F(AppChart, TheTrackbarChoosesTheChartAddress) {
    TCannedServer proxy({Ok(FGreen)}, true);
    THttpGetForm& form = Open(ProxySettings(proxy, "vtrx"));
    QTest::keyClick(form.tb1->Handle(), Qt::Key_Right);
    Fetch("^DJI");
    QTest::keyClick(form.tb1->Handle(), Qt::Key_Right);
    EXPECT_EQ(form.URLEdit->Text(), "_DJI");
    PressEnter();
    ASSERT_EQ(proxy.Requests().size(), 2u);
    EXPECT_EQ(RequestLine(proxy.Requests()[0]), "GET http://chart.yahoo.com/v?s=^DJI HTTP/1.0");
    EXPECT_EQ(RequestLine(proxy.Requests()[1]),
              "GET http://ichart.yahoo.com/c/0b/_/_DJI.gif HTTP/1.0");
    EXPECT_TRUE(Exists("^DJI.gif"));
    EXPECT_TRUE(Exists("_DJI.gif"));
}

TEST_F(AppChart, EveryDiskOutcome) {
    TCannedServer proxy({Ok(FHalves), Ok(FGreen), kNotFound, kNotFound});
    THttpGetForm& form = Open(ProxySettings(proxy, "vtrx"));

    // A second successful download keeps the first as the backup.
    Fetch("IBM");
    Fetch("IBM");
    EXPECT_EQ(ReadFile("IBM.gif"), FGreen);
    EXPECT_EQ(ReadFile("IBM.bak"), FHalves);
    EXPECT_EQ(Left(), kGreen);

    // An error page for a symbol shown before: the previous chart comes back, no backup.
    Fetch("IBM");
    EXPECT_EQ(form.InfoLabel->Caption(), "Failed : 404 Not Found");
    EXPECT_EQ(ReadFile("IBM.gif"), FGreen);
    EXPECT_FALSE(Exists("IBM.bak"));
    EXPECT_EQ(Left(), kGreen);
    EXPECT_EQ(form.Panel2->Caption(), "");

    // A failed first download of a new symbol: no files, the words in the picture area.
    Fetch("NEW");
    EXPECT_FALSE(Exists("NEW.gif"));
    EXPECT_FALSE(Exists("NEW.bak"));
    EXPECT_EQ(form.Image1->Picture()->Graphic(), nullptr);
    EXPECT_EQ(form.Panel2->Caption(), "  NO DATA - NO CONNECTION?");
    EXPECT_TRUE(FErrors.empty());
}

TEST_F(AppChart, AGifWithoutImagesCountsAsAFailedLoad) {
    const std::string noImages("GIF89a\x01\x00\x01\x00\x00\x00\x00\x3B", 14);
    TCannedServer proxy({Ok(FHalves), Ok(noImages)});
    THttpGetForm& form = Open(ProxySettings(proxy, "vtrx"));
    Fetch("IBM");
    Fetch("IBM");
    EXPECT_EQ(form.InfoLabel->Caption(), "Received 14 bytes");
    EXPECT_EQ(ReadFile("IBM.gif"), FHalves);
    EXPECT_FALSE(Exists("IBM.bak"));
    EXPECT_EQ(Left(), kRed); // painting the restored chart works
    EXPECT_TRUE(FErrors.empty());
}

TEST_F(AppChart, EscAbortsASlowDownload) {
    // The head and a few bytes, then silence while the connection stays open.
    TCannedServer proxy({{{Head(FHalves.size()) + FHalves.substr(0, 10)}, 0, false, true}});
    THttpGetForm& form = Open(ProxySettings(proxy, "vtrx"));
    WriteFile("IBM.gif", FGreen); // the chart shown before
    bool pressed = false;
    auto doc = form.HttpCli1->OnDocData;
    form.HttpCli1->OnDocData = [&](TObject* sender, const void* buffer, int len) {
        doc(sender, buffer, len);
        EXPECT_FALSE(form.GetButton->Enabled());
        EXPECT_TRUE(form.AbortButton->Visible());
        if (!pressed) // Esc arrives from the loop, as a key press does
            QTimer::singleShot(50, [&] {
                pressed = true;
                QTest::keyClick(form.URLEdit->Handle(), Qt::Key_Escape);
            });
    };
    Fetch("IBM");
    EXPECT_TRUE(pressed);
    EXPECT_EQ(form.InfoLabel->Caption(), "Failed : 404 Connection aborted on request");
    EXPECT_TRUE(form.GetButton->Enabled());
    EXPECT_FALSE(form.AbortButton->Visible());
    // The partial file does not load: the earlier chart is back.
    EXPECT_EQ(ReadFile("IBM.gif"), FGreen);
    EXPECT_FALSE(Exists("IBM.bak"));
    EXPECT_EQ(Left(), kGreen);
}

TEST_F(AppChart, SymbolsThatWouldLeaveTheFolderAreRefusedBeforeAnyFileIsTouched) {
    TCannedServer proxy({Ok(FHalves)}, true);
    THttpGetForm& form = Open(ProxySettings(proxy, "vtrx"));
    const std::string parent = std::filesystem::path(FFolders.WorkDir()).parent_path();
    WriteFile("x.gif", FGreen);
    Fetch("../x");
    ASSERT_EQ(FErrors.size(), 1u);
    EXPECT_EQ(FErrors[0], "The symbol \"../x\" cannot name a chart file: \"/\" and control "
                          "characters are not allowed.");
    for (const std::string& symbol : {std::string("a\x01z"), std::string("nul\0x", 5)}) {
        form.URLEdit->SetText(symbol);
        PressEnter();
    }
    EXPECT_EQ(FErrors.size(), 3u);
    EXPECT_EQ(proxy.Connections(), 0);
    EXPECT_FALSE(Exists(parent + "/x.gif"));
    EXPECT_FALSE(Exists(parent + "/x.bak"));
    EXPECT_EQ(ReadFile("x.gif"), FGreen);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_EQ(form.FileNameEdit->Text(), "vtrx");
    EXPECT_TRUE(form.GetButton->Enabled());

    // Everything else goes out verbatim, the empty symbol included.
    QTest::keyClick(form.tb1->Handle(), Qt::Key_End);
    form.URLEdit->SetText("");
    PressEnter();
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(RequestLine(proxy.Requests()[0]), "GET http://ichart.yahoo.com/c/0b//.gif HTTP/1.0");
    EXPECT_EQ(ReadFile(".gif"), FHalves);
}

TEST_F(AppChart, AChartFileThatCannotBeCreatedIsReported) {
    TCannedServer proxy({Ok(FHalves)}, true);
    THttpGetForm& form = Open(ProxySettings(proxy, "vtrx"));
    ASSERT_TRUE(std::filesystem::create_directory("IBM.gif"));
    Fetch("IBM");
    ASSERT_EQ(FErrors.size(), 1u);
    EXPECT_EQ(FErrors[0], "Cannot create file IBM.gif.");
    EXPECT_EQ(proxy.Connections(), 0);
    EXPECT_TRUE(form.GetButton->Enabled());
    EXPECT_FALSE(form.AbortButton->Visible());
}

TEST_F(AppChart, AQuickSymbolClickDuringADownloadIsIgnored) {
    const std::string head = Head(FHalves.size());
    TCannedServer proxy({{{head + FHalves.substr(0, 10), FHalves.substr(10)}, 400}, Ok(FGreen)});
    THttpGetForm& form = Open(ProxySettings(proxy, "vtrx") + "[vtrx]\nbutton8=MSFT\n");
    WriteFile("MSFT.gif", FGreen);
    bool clicked = false;
    auto doc = form.HttpCli1->OnDocData;
    form.HttpCli1->OnDocData = [&](TObject* sender, const void* buffer, int len) {
        doc(sender, buffer, len);
        if (!clicked) {
            clicked = true;
            ClickOn(form.Buttons[7]);
        }
    };
    Fetch("IBM");
    EXPECT_TRUE(clicked);
    EXPECT_EQ(proxy.Connections(), 1);
    EXPECT_EQ(form.URLEdit->Text(), "IBM");
    EXPECT_EQ(form.InfoLabel->Caption(), "Received " + std::to_string(FHalves.size()) + " bytes");
    EXPECT_EQ(ReadFile("IBM.gif"), FHalves);
    EXPECT_EQ(ReadFile("MSFT.gif"), FGreen);
    EXPECT_FALSE(Exists("MSFT.bak"));
    EXPECT_EQ(Left(), kRed);
    EXPECT_TRUE(FErrors.empty());

    // Once idle, the same click fetches.
    form.HttpCli1->OnDocData = doc;
    ClickOn(form.Buttons[7]);
    EXPECT_EQ(proxy.Connections(), 2);
    EXPECT_EQ(form.URLEdit->Text(), "MSFT");
    EXPECT_EQ(ReadFile("MSFT.bak"), FGreen);
}
