// Asynchronous host look-ups: the host entry inside the caller's buffer, the reply's
// packing, failures through the fault variant, and cancellation. Only names that
// /etc/hosts holds are looked up.
#include "WinsockLib.h"

#include "support/Pump.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace vt::test;

namespace {

struct alignas(hostent) LookupBuffer {
    char Bytes[MAXGETHOSTSTRUCT + 1];
};

bool Inside(const LookupBuffer& b, const void* p, std::size_t size = 1) {
    const char* c = static_cast<const char*>(p);
    return c >= b.Bytes && c + size <= b.Bytes + sizeof b.Bytes;
}

// Checks that every pointer of the entry points into the buffer; returns the addresses.
std::vector<std::string> CheckEntry(const LookupBuffer& b, std::string& name) {
    const auto* h = reinterpret_cast<const hostent*>(b.Bytes);
    std::vector<std::string> addresses;
    EXPECT_TRUE(Inside(b, h->h_name));
    EXPECT_TRUE(Inside(b, h->h_aliases, sizeof(char*)));
    EXPECT_TRUE(Inside(b, h->h_addr_list, sizeof(char*)));
    if (!Inside(b, h->h_name) || !Inside(b, h->h_addr_list) || !Inside(b, h->h_aliases))
        return addresses;
    name = h->h_name;
    EXPECT_EQ(h->h_addrtype, AF_INET);
    EXPECT_EQ(h->h_length, 4);
    for (char** alias = h->h_aliases; *alias != nullptr; ++alias)
        EXPECT_TRUE(Inside(b, *alias));
    for (char** a = h->h_addr_list; *a != nullptr; ++a) {
        EXPECT_TRUE(Inside(b, *a, 4));
        const auto* o = reinterpret_cast<const unsigned char*>(*a);
        addresses.push_back(std::to_string(o[0]) + "." + std::to_string(o[1]) + "." +
                            std::to_string(o[2]) + "." + std::to_string(o[3]));
    }
    return addresses;
}

class WinsockLookup : public ::testing::Test {
protected:
    Watchdog dog{20, "winsock look-up test"};
    NoteWindow win;

    const Note* Answer(HANDLE task) const {
        for (const auto& note : win.Notes())
            if (note.Msg == WM_LOOKUP && note.WParam == reinterpret_cast<WPARAM>(task))
                return &note;
        return nullptr;
    }
    bool WaitAnswer(HANDLE task) const {
        return PumpUntil([&] { return Answer(task) != nullptr; });
    }
};

} // namespace

TEST_F(WinsockLookup, HostEntryIsLaidOutInsideTheCallersBuffer) {
    WinsockLib ws;
    for (const char* query : {"localhost", "127.0.0.1"}) {
        LookupBuffer buf;
        std::memset(buf.Bytes, 0xAB, sizeof buf.Bytes);
        const HANDLE task =
            ws->WSAAsyncGetHostByName(win.Handle(), WM_LOOKUP, query, buf.Bytes, sizeof buf.Bytes);
        ASSERT_NE(task, nullptr) << ws->WSAGetLastError();
        ASSERT_TRUE(WaitAnswer(task)) << query;
        const Note* note = Answer(task);
        EXPECT_EQ(WSAGETASYNCERROR(note->LParam), 0);
        EXPECT_GE(WSAGETASYNCBUFLEN(note->LParam), sizeof(hostent));
        EXPECT_LE(WSAGETASYNCBUFLEN(note->LParam), MAXGETHOSTSTRUCT);
        EXPECT_EQ(static_cast<unsigned char>(buf.Bytes[sizeof buf.Bytes - 1]), 0xAB)
            << "nothing written past what the reply says";
        std::string name;
        const auto addresses = CheckEntry(buf, name);
        EXPECT_EQ(name, query);
        ASSERT_EQ(addresses.size(), 1u) << query;
        EXPECT_EQ(addresses[0], "127.0.0.1");
    }
}

TEST_F(WinsockLookup, AddressLookupGivesTheName) {
    WinsockLib ws;
    LookupBuffer buf;
    const std::uint32_t addr = static_cast<std::uint32_t>(ws->inet_addr("127.0.0.1"));
    const HANDLE task =
        ws->WSAAsyncGetHostByAddr(win.Handle(), WM_LOOKUP, reinterpret_cast<const char*>(&addr), 4,
                                  PF_INET, buf.Bytes, sizeof buf.Bytes);
    ASSERT_NE(task, nullptr);
    ASSERT_TRUE(WaitAnswer(task));
    EXPECT_EQ(WSAGETASYNCERROR(Answer(task)->LParam), 0);
    std::string name;
    const auto addresses = CheckEntry(buf, name);
    EXPECT_EQ(name, "localhost");
    ASSERT_EQ(addresses.size(), 1u);
    EXPECT_EQ(addresses[0], "127.0.0.1");
    EXPECT_EQ(ws->WSAAsyncGetHostByAddr(win.Handle(), WM_LOOKUP,
                                        reinterpret_cast<const char*>(&addr), 16, PF_INET,
                                        buf.Bytes, sizeof buf.Bytes),
              nullptr);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEFAULT);
}

TEST_F(WinsockLookup, SmallBufferGetsNoBytesAndTheSizeNeeded) {
    WinsockLib ws;
    LookupBuffer buf;
    std::memset(buf.Bytes, 0xAB, sizeof buf.Bytes);
    const HANDLE task =
        ws->WSAAsyncGetHostByName(win.Handle(), WM_LOOKUP, "localhost", buf.Bytes, 16);
    ASSERT_NE(task, nullptr);
    ASSERT_TRUE(WaitAnswer(task));
    const LPARAM reply = Answer(task)->LParam;
    EXPECT_EQ(WSAGETASYNCERROR(reply), WSAENOBUFS);
    EXPECT_GT(WSAGETASYNCBUFLEN(reply), 16);
    for (unsigned char c : buf.Bytes)
        ASSERT_EQ(c, 0xAB);
}

TEST_F(WinsockLookup, FailingLookupCarriesItsErrorInTheHighWord) {
    WinsockLib ws("wsock32-fault.dll");
    ASSERT_EQ(ws->VtFaultSet("lookup.error", WSAHOST_NOT_FOUND), 0);
    LookupBuffer buf;
    const HANDLE task = ws->WSAAsyncGetHostByName(win.Handle(), WM_LOOKUP, "localhost", buf.Bytes,
                                                  sizeof buf.Bytes);
    ASSERT_NE(task, nullptr);
    ASSERT_TRUE(WaitAnswer(task));
    EXPECT_EQ(WSAGETASYNCERROR(Answer(task)->LParam), WSAHOST_NOT_FOUND);
    EXPECT_EQ(ws->gethostbyname("localhost"), nullptr);
    EXPECT_EQ(ws->WSAGetLastError(), WSAHOST_NOT_FOUND);
    ASSERT_EQ(ws->VtFaultSet("lookup.error", WSATRY_AGAIN), 0);
    const HANDLE again = ws->WSAAsyncGetHostByName(win.Handle(), WM_LOOKUP, "localhost", buf.Bytes,
                                                   sizeof buf.Bytes);
    ASSERT_TRUE(WaitAnswer(again));
    EXPECT_EQ(WSAGETASYNCERROR(Answer(again)->LParam), WSATRY_AGAIN);
    EXPECT_NE(again, task) << "every look-up has its own handle";
}

TEST_F(WinsockLookup, CancelledLookupNeverAnswersNorWritesTheBuffer) {
    WinsockLib ws("wsock32-fault.dll");
    ASSERT_EQ(ws->VtFaultSet("lookup.delay", 300), 0);
    LookupBuffer buf;
    std::memset(buf.Bytes, 0xAB, sizeof buf.Bytes);
    const HANDLE task = ws->WSAAsyncGetHostByName(win.Handle(), WM_LOOKUP, "localhost", buf.Bytes,
                                                  sizeof buf.Bytes);
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(ws->WSACancelAsyncRequest(task), 0);
    // A second look-up, not cancelled, proves the workers finished meanwhile.
    LookupBuffer other;
    const HANDLE kept = ws->WSAAsyncGetHostByName(win.Handle(), WM_LOOKUP, "localhost", other.Bytes,
                                                  sizeof other.Bytes);
    ASSERT_TRUE(WaitAnswer(kept));
    PumpFor(400);
    EXPECT_EQ(Answer(task), nullptr);
    for (unsigned char c : buf.Bytes)
        ASSERT_EQ(c, 0xAB);
    EXPECT_EQ(ws->WSACancelAsyncRequest(kept), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEALREADY) << "already answered";
    EXPECT_EQ(ws->WSACancelAsyncRequest(reinterpret_cast<HANDLE>(0x7FFFFFFF)), SOCKET_ERROR);
    EXPECT_EQ(ws->WSAGetLastError(), WSAEINVAL) << "never given out";
}
