// Loading, start-up and clean-up, per-thread errors, byte order, addresses, databases.
#include "WinsockLib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <thread>

using namespace vt::test;

TEST(WinsockLoading, EveryVariantExportsTheEntryPointsByName) {
    for (const char* file : {"wsock32.dll", "wsock32-fault.dll", "wsock32-noentry.dll"}) {
        const std::string path = ProgramDir() + "/" + file;
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << ::dlerror();
        const bool noEntry = std::strcmp(file, "wsock32-noentry.dll") == 0;
        for (const char* name : kWinsockEntryPoints) {
            const bool expected = !(noEntry && std::strcmp(name, "WSAAsyncSelect") == 0);
            EXPECT_EQ(::dlsym(module, name) != nullptr, expected) << file << ": " << name;
        }
        const bool faults = std::strcmp(file, "wsock32-fault.dll") == 0;
        EXPECT_EQ(::dlsym(module, "VtFaultSet") != nullptr, faults) << file;
        ::dlclose(module);
    }
}

TEST(WinsockStartup, FillsDataCountsUsersAndRefusesUnstartedCalls) {
    WinsockLib ws("wsock32.dll", false);
    ASSERT_TRUE(ws.Loaded());
    // Before start-up nothing but the error functions and helpers works.
    EXPECT_EQ(ws->socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(ws->WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(ws->WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSANOTINITIALISED);

    WSADATA data;
    std::memset(&data, 0x5A, sizeof data);
    ASSERT_EQ(ws->WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    EXPECT_EQ(data.wHighVersion, 0x0101);
    EXPECT_STREQ(data.szSystemStatus, "Running");
    EXPECT_LT(std::strlen(data.szDescription), sizeof data.szDescription);
    EXPECT_EQ(ws->WSAStartup(0x0000, &data), WSAVERNOTSUPPORTED);

    // Two start-ups need two clean-ups; the last one closes what is left.
    ASSERT_EQ(ws->WSAStartup(0x0101, &data), 0);
    const SOCKET s = ws.Socket();
    EXPECT_EQ(ws->WSACleanup(), 0);
    u_long waiting = 0;
    EXPECT_EQ(ws->ioctlsocket(s, FIONREAD, &waiting), 0) << "still started once";
    EXPECT_EQ(ws->WSACleanup(), 0);
    EXPECT_EQ(ws->WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSANOTINITIALISED);

    ASSERT_EQ(ws->WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(ws->ioctlsocket(s, FIONREAD, &waiting), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAENOTSOCK) << "the final clean-up closed the socket";
    EXPECT_EQ(ws->WSACleanup(), 0);
}

TEST(WinsockStartup, FaultVariantRefusesStartUpWithTheGivenCode) {
    WinsockLib ws("wsock32-fault.dll", false);
    ASSERT_TRUE(ws.Loaded());
    ASSERT_EQ(ws->VtFaultSet("startup.error", WSASYSNOTREADY), 0);
    EXPECT_EQ(ws->VtFaultSet("no.such.knob", 1), -1);
    WSADATA data{};
    EXPECT_EQ(ws->WSAStartup(0x0101, &data), WSASYSNOTREADY);
    EXPECT_EQ(ws->socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(ws->WSAGetLastError(), WSANOTINITIALISED);
}

TEST(WinsockErrors, LastErrorBelongsToEachThread) {
    WinsockLib ws;
    ws->WSASetLastError(WSAEWOULDBLOCK);
    int seenThere = 0;
    std::thread other([&] {
        ws->WSASetLastError(WSAECONNREFUSED);
        seenThere = ws->WSAGetLastError();
    });
    other.join();
    EXPECT_EQ(seenThere, WSAECONNREFUSED);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST(WinsockAddresses, ByteOrderAndDottedAddresses) {
    WinsockLib ws;
    const u_short net = ws->htons(0x1F90); // 8080
    unsigned char bytes[2];
    std::memcpy(bytes, &net, 2);
    EXPECT_EQ(bytes[0], 0x1F);
    EXPECT_EQ(bytes[1], 0x90);
    EXPECT_EQ(ws->ntohs(net), 0x1F90);

    auto octets = [&](const char* text) {
        const std::uint32_t addr = static_cast<std::uint32_t>(ws->inet_addr(text));
        unsigned char b[4];
        std::memcpy(b, &addr, 4);
        return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) +
               "." + std::to_string(b[3]);
    };
    EXPECT_EQ(octets("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(octets("10.1.2.3  "), "10.1.2.3");
    EXPECT_EQ(octets("0x7f.1"), "127.0.0.1");        // Berkeley's short forms
    EXPECT_EQ(octets("192.168.257"), "192.168.1.1"); // last part fills the rest
    for (const char* bad : {"", "1.2.3.256", "1.2.3.4x", "10..0.1", "localhost", "1.2.3.4.5"})
        EXPECT_EQ(ws->inet_addr(bad), INADDR_NONE) << bad;

    in_addr in{};
    in.s_addr = static_cast<std::uint32_t>(ws->inet_addr("172.16.254.9"));
    EXPECT_STREQ(ws->inet_ntoa(in), "172.16.254.9");
}

TEST(WinsockDatabase, ServicesProtocolsAndBlockingHostLookup) {
    WinsockLib ws;
    const servent* http = ws->getservbyname("http", "tcp");
    ASSERT_NE(http, nullptr);
    EXPECT_STREQ(http->s_name, "http");
    EXPECT_STREQ(http->s_proto, "tcp");
    EXPECT_EQ(ws->ntohs(static_cast<u_short>(http->s_port)), 80);
    EXPECT_EQ(ws->getservbyname("no-such-service-here", nullptr), nullptr);
    EXPECT_EQ(ws->WSAGetLastError(), WSANO_DATA);

    const protoent* udp = ws->getprotobyname("udp");
    ASSERT_NE(udp, nullptr);
    EXPECT_EQ(udp->p_proto, 17);
    EXPECT_STREQ(udp->p_name, "udp");
    // Asked again (the library keeps what it found): the same entry with its aliases; an
    // unknown name still fails.
    const protoent* again = ws->getprotobyname("udp");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->p_proto, 17);
    ASSERT_NE(again->p_aliases[0], nullptr);
    EXPECT_STREQ(again->p_aliases[0], "UDP");
    EXPECT_EQ(ws->getprotobyname("no-such-protocol"), nullptr);
    EXPECT_EQ(ws->WSAGetLastError(), WSANO_DATA);

    const hostent* local = ws->gethostbyname("localhost");
    ASSERT_NE(local, nullptr) << ws->WSAGetLastError();
    EXPECT_STREQ(local->h_name, "localhost");
    EXPECT_EQ(local->h_addrtype, AF_INET);
    EXPECT_EQ(local->h_length, 4);
    ASSERT_NE(local->h_addr_list[0], nullptr);
    EXPECT_EQ(std::memcmp(local->h_addr_list[0], "\x7f\x00\x00\x01", 4), 0);
}
