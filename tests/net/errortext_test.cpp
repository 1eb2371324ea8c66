// WSocketErrorText: the fixed code-to-text table.

#include "net/WSocketErrorText.h"

#include <gtest/gtest.h>

namespace {

TEST(NetErrorText, KnownCodes) {
    EXPECT_EQ(WSocketErrorText(0), "No Error");
    EXPECT_EQ(WSocketErrorText(10004), "Interrupted system call");
    EXPECT_EQ(WSocketErrorText(10035), "Operation would block");
    EXPECT_EQ(WSocketErrorText(10054), "Connection reset by peer");
    EXPECT_EQ(WSocketErrorText(10057), "Socket is not connected");
    EXPECT_EQ(WSocketErrorText(10058), "Can't send after socket shutdown");
    EXPECT_EQ(WSocketErrorText(10059), "Too many references: can't splice");
    EXPECT_EQ(WSocketErrorText(10060), "Connection timed out");
    EXPECT_EQ(WSocketErrorText(10061), "Connection refused");
    EXPECT_EQ(WSocketErrorText(10071), "Too many levels of remote in path");
    EXPECT_EQ(WSocketErrorText(10091), "Network sub-system is unusable");
    EXPECT_EQ(WSocketErrorText(10093), "WinSock not initialized");
    EXPECT_EQ(WSocketErrorText(11001), "Host not found");
    EXPECT_EQ(WSocketErrorText(11004), "No Data");
}

TEST(NetErrorText, UnknownCodesIncludingSocksCodes) {
    for (int code :
         {-1, 1, 9999, 10000, 10001, 10072, 10090, 10094, 11000, 11005, 20001, 20002, 20017, 12001})
        EXPECT_EQ(WSocketErrorText(code), "Not a WinSock error") << code;
}

} // namespace
