// The built program on a real X display: started with no arguments, it shows its
// window; Enter pressed through X (xdotool) fetches the chart from a loopback server
// named in the settings file; a screenshot shows caption, layout and chart; the close
// box's message writes the settings file and ends the program.
#include "AppTestSupport.h"
#include "app/ChartRequest.h"
#include "support/CannedServer.h"
#include "support/Peers.h"
#include "support/Pump.h"

#include <QImage>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace vt::test;

namespace {

bool Near(QRgb pixel, QRgb wanted) {
    return std::abs(qRed(pixel) - qRed(wanted)) < 8 &&
           std::abs(qGreen(pixel) - qGreen(wanted)) < 8 &&
           std::abs(qBlue(pixel) - qBlue(wanted)) < 8;
}

} // namespace

TEST(AppProgram, ShowsTheChartOnARealDisplay) {
    for (const char* tool : {"Xvfb", "xdotool", "import"})
        if (FindProgram(tool).empty()) GTEST_SKIP() << tool << " is not installed";
    Watchdog watchdog(60, "program under Xvfb");
    TScratchFolders folders;
    const std::string chart = ReadFile(AppSourceDir() + "/tests/data/app/halves.gif");
    ASSERT_FALSE(chart.empty());
    TCannedServer proxy({{{"HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\n\r\n" + chart}}});
    const std::string settings = folders.ConfigDir() + "/" + SettingsFileName(VT_APP_PROGRAM);
    WriteFile(settings, "[Data]\nURL=IBM\nProxyHost=127.0.0.1\nProxyPort=" + proxy.Port() +
                            "\n[Window]\nLeft=0\nTop=0\n");

    PeerProcess xvfb;
    xvfb.Start({"Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"},
               folders.WorkDir() + "/xvfb.log");
    std::string number;
    ASSERT_TRUE(WaitUntil([&] { return !(number = XvfbDisplayNumber(xvfb.Log())).empty(); }, 20000))
        << xvfb.Log();
    const std::string display = "DISPLAY=:" + number;

    PeerProcess program;
    program.Start({"/usr/bin/env", display, "QT_QPA_PLATFORM=xcb", VT_APP_PROGRAM, "--ignored"},
                  folders.WorkDir() + "/program.log");
    const std::string window = Shell(
        display + " timeout 20 xdotool search --sync --onlyvisible --name '^Brenvik Vantrel$' "
                  "| head -n 1");
    ASSERT_FALSE(window.empty()) << program.Log();
    EXPECT_EQ(Shell(display + " xdotool getwindowname " + window), "Brenvik Vantrel");

    // Enter as real X input to the focused window presses "&Show".
    Shell(display + " timeout 10 xdotool windowfocus --sync " + window);
    Shell(display + " timeout 10 xdotool key Return");
    ASSERT_TRUE(WaitUntil([] { return Exists("IBM.gif"); }, 20000)) << program.Log();
    ASSERT_TRUE(WaitUntil([&] { return ReadFile("IBM.gif") == chart; }, 20000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // let it paint

    const std::string shot = VT_APP_SHOT;
    Shell(display + " timeout 10 import -window " + window + " " + shot);
    QImage image(QString::fromStdString(shot));
    ASSERT_FALSE(image.isNull()) << "no screenshot";
    EXPECT_EQ(image.width(), 309);
    EXPECT_EQ(image.height(), 169);
    // The chart stretched over the picture area: red left, blue right.
    EXPECT_TRUE(Near(image.pixel(40, 60), qRgb(255, 0, 0))) << std::hex << image.pixel(40, 60);
    EXPECT_TRUE(Near(image.pixel(170, 60), qRgb(0, 0, 255))) << std::hex << image.pixel(170, 60);
    // The control column and the button rows are not part of the picture.
    for (const QPoint p : {QPoint(250, 110), QPoint(3, 140), QPoint(300, 160)}) {
        EXPECT_FALSE(Near(image.pixel(p), qRgb(255, 0, 0))) << p.x() << "," << p.y();
        EXPECT_FALSE(Near(image.pixel(p), qRgb(0, 0, 255))) << p.x() << "," << p.y();
    }
    EXPECT_EQ(proxy.Connections(), 1);
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].substr(0, proxy.Requests()[0].find("\r\n")),
              "GET http://chart.yahoo.com/t?s=IBM HTTP/1.0");

    // The close box: the settings are written and the program ends.
    Shell(display + " python3 " + AppSourceDir() + "/tools/xclose.py " + window);
    EXPECT_TRUE(WaitUntil([&] { return !program.Running(); }, 10000)) << program.Log();
    const std::string saved = ReadFile(settings);
    EXPECT_NE(saved.find("FileName=IBM.gif"), std::string::npos) << saved;
    EXPECT_NE(saved.find("button14="), std::string::npos) << saved;
    program.Stop();
    xvfb.Stop();
}
