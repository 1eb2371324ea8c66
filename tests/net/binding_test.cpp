// The Winsock binding: loading by name, the three load errors, release after the last
// socket; and the resolution of Addr, Port and Proto.

#include "net/CustomWSocket.h"
#include "net/WSocketResolve.h"
#include "platform/winsock/FaultControl.h"
#include "support/Pump.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

using vt::test::Watchdog;

namespace {

std::string ErrorMessage(const std::function<void()>& f) {
    try {
        f();
    } catch (const ESocketException& e) {
        return e.Message();
    }
    return "(no exception)";
}

std::string BesideExecutable(const std::string& name) {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    std::string exe(path, n > 0 ? static_cast<size_t>(n) : 0);
    return exe.substr(0, exe.rfind('/') + 1) + name;
}

// Each test starts and ends with the default library, not loaded.
class NetBinding : public ::testing::Test {
protected:
    void SetUp() override { WSocketUnload(); }
    void TearDown() override {
        vt::SetWinsockLibraryName("");
        WSocketUnload();
    }
};

TEST_F(NetBinding, MissingLibraryIsReportedByTheFirstCallThatNeedsIt) {
    vt::SetWinsockLibraryName("wsock32-not-there.dll");
    EXPECT_EQ(ErrorMessage([] { WSocketLoadProc(""); }), "Unable to load wsock32.dll Error #126");
    EXPECT_FALSE(vt::WinsockLoaded());
    TCustomWSocket s(nullptr);
    s.SetAddr("127.0.0.1");
    s.SetPort("80");
    EXPECT_EQ(ErrorMessage([&] { s.Connect(); }), "connect: Unable to load wsock32.dll Error #126");
    EXPECT_EQ(s.State(), wsClosed);
}

TEST_F(NetBinding, MissingEntryPointNamesIt) {
    vt::SetWinsockLibraryName("wsock32-noentry.dll");
    TCustomWSocket s(nullptr);
    s.SetAddr("127.0.0.1");
    s.SetPort("9");
    EXPECT_EQ(ErrorMessage([&] { s.Connect(); }),
              "Procedure WSAAsyncSelect not found in wsock32.dll Error #127");
    EXPECT_TRUE(vt::WinsockLoaded());
    EXPECT_EQ(ErrorMessage([] { WSocketLoadProc("NoSuchEntry"); }),
              "Procedure NoSuchEntry not found in wsock32.dll Error #127");
}

TEST_F(NetBinding, RefusedStartupIsReportedAndNotRetried) {
    // Hold the fault library open ourselves so its knob survives until the binding
    // loads the same instance.
    const std::string path = BesideExecutable("wsock32-fault.dll");
    void* held = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(held, nullptr) << dlerror();
    auto set = reinterpret_cast<VtFaultSetProc>(dlsym(held, "VtFaultSet"));
    auto reset = reinterpret_cast<VtFaultResetProc>(dlsym(held, "VtFaultReset"));
    ASSERT_TRUE(set && reset);
    ASSERT_EQ(set("startup.error", 10091), 0);
    vt::SetWinsockLibraryName("wsock32-fault.dll");
    EXPECT_EQ(ErrorMessage([] { WSocketLoadProc(""); }), "wsock32.dll: WSAStartup error #10091");
    EXPECT_TRUE(vt::WinsockLoaded());
    EXPECT_EQ(ErrorMessage([] { WSocketLoadProc(""); }), "(no exception)");
    reset();
    WSocketUnload();
    dlclose(held);
}

TEST_F(NetBinding, ReleasedAfterLastSocketAndLoadedAgainOnNextUse) {
    Watchdog dog(10, "reload");
    EXPECT_EQ(WinsockUsers, 0);
    {
        TCustomWSocket a(nullptr), b(nullptr);
        EXPECT_EQ(WinsockUsers, 2);
        EXPECT_FALSE(vt::WinsockLoaded()); // lazily: no Winsock call yet
        a.SetAddr("127.0.0.1");
        a.SetPort("0");
        a.Listen();
        EXPECT_TRUE(vt::WinsockLoaded());
    }
    EXPECT_EQ(WinsockUsers, 0);
    EXPECT_FALSE(vt::WinsockLoaded());
    TCustomWSocket c(nullptr);
    c.SetAddr("127.0.0.1");
    c.SetPort("0");
    c.Listen();
    EXPECT_TRUE(vt::WinsockLoaded());
    EXPECT_EQ(c.State(), wsListening);
}

TEST(NetResolve, DottedAddressRecognition) {
    for (const char* yes : {"10.0.0.1", "  10.0.0.1  ", "0.0.0.0", "255.255.255.255", "1.2.3.4 "})
        EXPECT_TRUE(IsDottedAddress(yes)) << yes;
    for (const char* no : {"10.0.0", "10..0.1", "10.0.0.256", "10.0.0.1x", ".10.0.0.1", "10.0.0.1.",
                           "1.2.3.4.5", "", "   ", "localhost", "10.0.0.1 x", "1.2.3.99999999999"})
        EXPECT_FALSE(IsDottedAddress(no)) << no;
}

TEST(NetResolve, ParseDecimal) {
    EXPECT_EQ(ParseDecimal("  42abc"), 42);
    EXPECT_EQ(ParseDecimal(""), 0);
    EXPECT_EQ(ParseDecimal("x1"), 0);
    EXPECT_EQ(ParseDecimal("007"), 7);
}

TEST(NetResolve, HostPortAndProto) {
    EXPECT_EQ(WSocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(WSocketResolveHost(" 127.0.0.1 "), vt::wsapi::inet_addr("127.0.0.1"));
    EXPECT_EQ(WSocketResolveHost("localhost"), vt::wsapi::inet_addr("127.0.0.1"));
    EXPECT_EQ(ErrorMessage([] { WSocketResolveHost(""); }),
              "WSocketResolveHost: '' Invalid Hostname.");
    EXPECT_EQ(ErrorMessage([] { WSocketResolveHost(std::string(257, 'a')); }),
              "WSocketResolveHost: '" + std::string(257, 'a') + "' Invalid Hostname.");

    EXPECT_EQ(WSocketResolvePort("80", "tcp"), 80);
    EXPECT_EQ(WSocketResolvePort("http", "tcp"), 80);
    // A number past 65535 is refused, never wrapped to another port.
    EXPECT_EQ(WSocketResolvePort("65535", "tcp"), 65535);
    EXPECT_EQ(ErrorMessage([] { WSocketResolvePort("65536", "tcp"); }),
              "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(ErrorMessage([] { WSocketResolvePort("70000", "tcp"); }),
              "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(ErrorMessage([] { WSocketResolvePort(std::string(20, '9'), "tcp"); }),
              "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(WSocketResolvePort(std::string(29, '0') + "80", "tcp"), 80); // 31 characters
    EXPECT_EQ(ErrorMessage([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }),
              "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(ErrorMessage([] { WSocketResolvePort("", "tcp"); }),
              "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(ErrorMessage([] {
                  WSocketResolvePort("no-such-service", "tcp");
              }).rfind("WSocketResolvePort: Cannot convert port 'no-such-service', Error #", 0),
              0u);

    EXPECT_EQ(WSocketResolveProto("udp"), 17);
    EXPECT_EQ(WSocketResolveProto("17"), 17);
    EXPECT_EQ(WSocketResolveProto(" tcp "), 6);
    EXPECT_EQ(ErrorMessage([] { WSocketResolveProto(""); }),
              "WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(ErrorMessage([] {
                  WSocketResolveProto("nosuchproto");
              }).rfind("WSocketResolveProto: Cannot convert protocol 'nosuchproto', Error #", 0),
              0u);
}

TEST_F(NetBinding, UndottedNumbersGoToTheHostDatabase) {
    // The fault library answers every name lookup with an error without asking a
    // resolver, so no unknown name leaves the machine.
    vt::SetWinsockLibraryName("wsock32-fault.dll");
    auto set = reinterpret_cast<VtFaultSetProc>(WSocketLoadProc("VtFaultSet"));
    auto reset = reinterpret_cast<VtFaultResetProc>(WSocketLoadProc("VtFaultReset"));
    ASSERT_EQ(set("lookup.error", 11001), 0);
    EXPECT_EQ(ErrorMessage([] { WSocketResolveHost("1.2.3.256"); }),
              "WSocketResolveHost: Cannot convert host address '1.2.3.256', Error #11001");
    reset();
}

} // namespace
