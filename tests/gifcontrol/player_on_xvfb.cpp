// The GIF player on a real X display (Xvfb, xcb platform): it plays an animated file
// given on its command line (two screenshots of its window show different frames), and
// Alt+S pressed through X (xdotool) stops it on frame 1.

#include "platform/gdi/Bitmap.h"
#include "support/Peers.h"
#include "support/Pump.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>
#include <thread>

using namespace vt::test;

namespace {

// The picture area of the window: the control, stretched keeping the ratio, shows the
// 40 x 30 animation about 400 x 300 pixels large in the middle of its 558 x 298 area.
constexpr TRect Picture = {110, 90, 450, 340};
constexpr TColor Frame1Colour = RGB(0x33, 0x66, 0x99);

// Pixels of the picture area sampled every 10 pixels.
std::vector<TColor> Samples(TBitmap& Shot) {
    std::vector<TColor> out;
    for (int y = Picture.Top; y < Picture.Bottom; y += 10)
        for (int x = Picture.Left; x < Picture.Right; x += 10)
            out.push_back(Shot.Canvas()->Pixels(x, y));
    return out;
}

} // namespace

TEST(player, PlaysAnAnimatedFileOnARealDisplay) {
    for (const char* tool : {"Xvfb", "xdotool", "import"})
        if (FindProgram(tool).empty()) GTEST_SKIP() << tool << " is not installed";
    Watchdog watchdog(60, "player under Xvfb");
    const std::string work = MakeTempDir("gifplayer");

    PeerProcess xvfb;
    xvfb.Start({"Xvfb", "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"},
               work + "/xvfb.log");
    std::string number;
    ASSERT_TRUE(WaitUntil([&] { return !(number = XvfbDisplayNumber(xvfb.Log())).empty(); }, 20000))
        << xvfb.Log();
    const std::string display = "DISPLAY=:" + number;

    PeerProcess player;
    player.Start({"/usr/bin/env", display, "QT_QPA_PLATFORM=xcb", VT_PLAYER_PROGRAM,
                  std::string(GIFCONTROL_DATA_DIR) + "/im_mixed.gif"},
                 work + "/player.log");
    const std::string window =
        Shell(display + " timeout 20 xdotool search --sync --onlyvisible --name "
                        "'^Brenvik GIF player - im_mixed.gif$' | head -n 1");
    ASSERT_FALSE(window.empty()) << player.Log();

    // Screenshots until two show different frames (frames change every 100 ms).
    const auto shoot = [&](const std::string& Name) {
        const std::string path = std::string(VT_PLAYER_SHOTS) + "/" + Name;
        Shell(display + " timeout 10 import -window " + window + " " + path);
        auto shot = std::make_unique<TBitmap>();
        shot->LoadFromFile(path);
        return shot;
    };
    auto first = shoot("player-1.png");
    ASSERT_EQ(first->Width(), 560);
    ASSERT_EQ(first->Height(), 420);
    std::unique_ptr<TBitmap> second;
    for (int i = 0; i < 20 && (!second || Samples(*second) == Samples(*first)); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(70));
        second = shoot("player-2.png");
    }
    EXPECT_NE(Samples(*second), Samples(*first)) << "the picture did not change";

    // Alt+S presses "&Stop": the animation goes back to frame 1, one colour all over.
    Shell(display + " timeout 10 xdotool windowfocus --sync " + window);
    Shell(display + " timeout 10 xdotool key alt+s");
    std::unique_ptr<TBitmap> stopped;
    EXPECT_TRUE(WaitUntil(
        [&] {
            stopped = shoot("player-stopped.png");
            const auto s = Samples(*stopped);
            return std::all_of(s.begin(), s.end(), [](TColor c) { return c == Frame1Colour; });
        },
        5000))
        << std::hex << stopped->Canvas()->Pixels(200, 200);
    // Stopped means stopped.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Samples(*shoot("player-stopped-later.png")), Samples(*stopped));

    player.Stop();
    xvfb.Stop();
    RemoveTree(work);
}
