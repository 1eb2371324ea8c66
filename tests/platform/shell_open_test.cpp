// Opening addresses in the desktop's browser: what the opener is given, and the real
// start of a program, detached and reaped.

#include "platform/shell/Shell.h"
#include "support/Pump.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class ShellOpenTest : public ::testing::Test {
protected:
    void SetUp() override {
        Previous = vt::SetShellOpener([this](const std::string& Address) {
            Opened.push_back(Address);
            return Succeed;
        });
    }
    void TearDown() override { vt::SetShellOpener(std::move(Previous)); }

    vt::TShellOpener Previous;
    std::vector<std::string> Opened;
    bool Succeed = true;
};

TEST_F(ShellOpenTest, WwwAddressesWithoutSchemeOpenAsHttpAndTheRestAsTheyStand) {
    EXPECT_TRUE(vt::ShellOpen("www.example.org"));
    EXPECT_TRUE(vt::ShellOpen("WWW.Example.org/x"));
    EXPECT_TRUE(vt::ShellOpen("http://quotes.example/q?d=t&s=^DJI"));
    EXPECT_TRUE(vt::ShellOpen("https://www.example.org"));
    EXPECT_TRUE(vt::ShellOpen("/tmp/chart.gif"));
    EXPECT_TRUE(vt::ShellOpen("wwwexample.org")); // no dot after www: not an address rule
    EXPECT_FALSE(vt::ShellOpen(""));              // nothing to open, nothing started
    EXPECT_EQ(Opened, (std::vector<std::string>{
                          "http://www.example.org",
                          "http://WWW.Example.org/x",
                          "http://quotes.example/q?d=t&s=^DJI",
                          "https://www.example.org",
                          "/tmp/chart.gif",
                          "wwwexample.org",
                      }));
}

TEST_F(ShellOpenTest, ShellExecuteHandsTheFileOverAndReportsTheStart) {
    EXPECT_GT(
        ShellExecute(nullptr, nullptr, "http://q.example/?u", nullptr, nullptr, SW_SHOWNORMAL), 32);
    Succeed = false;
    EXPECT_LE(ShellExecute(nullptr, "open", "www.example.org", nullptr, nullptr, SW_SHOWNORMAL),
              32);
    EXPECT_LE(ShellExecute(nullptr, nullptr, nullptr, nullptr, nullptr, SW_SHOWNORMAL), 32);
    EXPECT_EQ(Opened, (std::vector<std::string>{"http://q.example/?u", "http://www.example.org"}));
}

// A stand-in opener program: records its arguments, then stays a while.
std::string MakeFakeOpener(const std::string& Dir) {
    const std::string path = Dir + "/xdg-open";
    std::ofstream script(path);
    script << "#!/bin/sh\n"
              "printf '%s\\n' \"$#\" \"$1\" > \"$(dirname \"$0\")/args.tmp\"\n"
              "mv \"$(dirname \"$0\")/args.tmp\" \"$(dirname \"$0\")/args\"\n"
              "echo $$ > \"$(dirname \"$0\")/pid\"\n"
              "sleep 1\n";
    script.close();
    chmod(path.c_str(), 0755);
    return path;
}

std::string ReadFile(const std::string& Path) {
    std::ifstream in(Path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WaitForFile(const std::string& Path, int TimeoutMs) {
    for (int waited = 0; waited < TimeoutMs; waited += 10) {
        if (access(Path.c_str(), F_OK) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// No zombie: the process is gone from the process table (reaped), not just exited.
bool WaitUntilReaped(pid_t Pid, int TimeoutMs) {
    const std::string proc = "/proc/" + std::to_string(Pid);
    for (int waited = 0; waited < TimeoutMs; waited += 20) {
        if (access(proc.c_str(), F_OK) != 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST(ShellLaunch, TheOpenerRunsDetachedWithoutAShellAndIsReaped) {
    vt::test::Watchdog dog(15, "shell launch");
    char pattern[] = "/tmp/vt-shell-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    MakeFakeOpener(dir);
    // Through the default opener, found in PATH as the desktop's would be.
    const char* oldPath = std::getenv("PATH");
    const std::string savedPath = oldPath ? oldPath : "";
    setenv("PATH", (dir + ":" + savedPath).c_str(), 1);
    const std::string address = "http://q.example/q?d=t&s=A;B $(touch " + dir + "/pwned) `x`";
    const auto started = std::chrono::steady_clock::now();
    const bool launched = vt::DesktopOpen(address);
    const auto took = std::chrono::steady_clock::now() - started;
    setenv("PATH", savedPath.c_str(), 1);
    ASSERT_TRUE(launched);
    EXPECT_LT(took, std::chrono::milliseconds(500)); // the opener sleeps a second: not waited for

    ASSERT_TRUE(WaitForFile(dir + "/args", 5000));
    // One argument, byte for byte: no shell took the ";", "$(...)" or quotes apart.
    EXPECT_EQ(ReadFile(dir + "/args"), "1\n" + address + "\n");
    EXPECT_NE(access((dir + "/pwned").c_str(), F_OK), 0);
    ASSERT_TRUE(WaitForFile(dir + "/pid", 5000));
    const pid_t pid = std::stoi(ReadFile(dir + "/pid"));
    EXPECT_TRUE(WaitUntilReaped(pid, 5000)) << "opener " << pid << " left behind";

    // A program that does not exist is reported, not hung on.
    EXPECT_FALSE(vt::LaunchDetached(dir + "/no-such-opener", "x"));
    // An argument that looks like an option is never passed as one.
    EXPECT_FALSE(vt::LaunchDetached(dir + "/xdg-open", "--help-not-a-file"));
    std::filesystem::remove_all(dir);
}

} // namespace
