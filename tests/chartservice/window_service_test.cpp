// The chart window reaching the chart service through its proxy entries, both in this
// process: what the window shows after Enter is the service's chart, pixel for pixel,
// with the progress result "Received N bytes"; closing writes the settings.

#include "../app/WindowFixture.h"
#include "chartservice/ChartAddress.h"
#include "chartservice/ChartPainter.h"
#include "chartservice/ChartServer.h"
#include "chartservice/GifCheck.h"
#include "platform/profile/IniFile.h"
#include "support/Peers.h"
#include "support/Pump.h"

#include <QImage>
#include <QPixmap>
#include <QWidget>

namespace {

class ServiceWindow : public vt::test::AppWindow {
protected:
    void SetUp() override {
        AppWindow::SetUp();
        FServer.Listen("127.0.0.1", "0");
    }

    // The window, sized so that its picture area is as large as the service's charts:
    // they then show unstretched and can be compared pixel for pixel.
    THttpGetForm& OpenOnService(const std::string& symbol) {
        THttpGetForm& form = Open("[Data]\nURL=" + symbol +
                                  "\nProxyHost=127.0.0.1\nProxyPort=" + FServer.Port() + "\n");
        form.SetBounds(form.Left(), form.Top(),
                       form.Width() + TChartPainter::DefaultWidth - form.Image1->Width(),
                       form.Height() + TChartPainter::DefaultHeight - form.Image1->Height());
        EXPECT_EQ(form.Image1->Width(), TChartPainter::DefaultWidth);
        EXPECT_EQ(form.Image1->Height(), TChartPainter::DefaultHeight);
        return form;
    }

    // Pixels of the picture area that differ from the chart.
    int WrongPixels(const std::string& gif) {
        const vt::test::TDecodedGif chart = vt::test::DecodeWithOurReader(gif);
        EXPECT_EQ(chart.Error, "");
        const QImage window = FForm->Handle()->grab().toImage();
        const int left = FForm->Panel2->Left() + FForm->Image1->Left();
        const int top = FForm->Panel2->Top() + FForm->Image1->Top();
        int wrong = 0;
        for (int y = 0; y < chart.Height; ++y)
            for (int x = 0; x < chart.Width; ++x) {
                const std::uint8_t* rgb = &chart.Rgb[3 * (std::size_t(y) * chart.Width + x)];
                const std::uint32_t want = rgb[0] << 16 | rgb[1] << 8 | rgb[2];
                wrong += (window.pixel(left + x, top + y) & 0xFFFFFF) != want;
            }
        return wrong;
    }

    TChartService FService{"", true};
    TChartServer FServer{FService};
};

} // namespace

TEST_F(ServiceWindow, EnterShowsTheServicesChartAndCloseKeepsTheProxy) {
    vt::test::Watchdog dog(30, "window and service");
    THttpGetForm& form = OpenOnService("IBM");
    PressEnter();
    const std::string day = FService.ChartGif({"IBM", cpDay});
    EXPECT_EQ(form.InfoLabel->Caption(), "Received " + std::to_string(day.size()) + " bytes");
    EXPECT_EQ(vt::test::ReadFile("IBM.gif"), day);
    EXPECT_EQ(form.Panel2->Caption(), "");
    EXPECT_EQ(WrongPixels(day), 0);

    // The year position asks for /c/0b/_/_DJI.gif; the service serves that form too.
    TypeSymbol("^DJI");
    form.tb1->SetPosition(3);
    PressEnter();
    const std::string year = FService.ChartGif({"_DJI", cpYear});
    EXPECT_EQ(form.InfoLabel->Caption(), "Received " + std::to_string(year.size()) + " bytes");
    EXPECT_EQ(WrongPixels(year), 0);
    EXPECT_TRUE(FErrors.empty());

    form.Handle()->close();
    const TIniFile ini(SettingsPath());
    EXPECT_EQ(ini.ReadString("Data", "ProxyHost", "?"), "127.0.0.1");
    EXPECT_EQ(ini.ReadString("Data", "ProxyPort", "?"), FServer.Port());
    EXPECT_EQ(ini.ReadString("Data", "URL", "?"), "_DJI");
    EXPECT_EQ(ini.ReadString("Data", "FileName", "?"), "_DJI.gif");
}

TEST_F(ServiceWindow, ASymbolWithoutPricesShowsTheFailureAndNoPicture) {
    vt::test::Watchdog dog(30, "window and service");
    const TChartService strict("", false);
    TChartServer server(strict);
    server.Listen("127.0.0.1", "0");
    THttpGetForm& form =
        Open("[Data]\nURL=NONE\nProxyHost=127.0.0.1\nProxyPort=" + server.Port() + "\n");
    PressEnter();
    EXPECT_EQ(form.InfoLabel->Caption(), "Failed : 404 Not Found");
    EXPECT_EQ(form.Panel2->Caption(), "  NO DATA - NO CONNECTION?");
    EXPECT_FALSE(vt::test::Exists("NONE.gif"));
}
