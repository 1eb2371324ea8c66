// TBuffer: fixed-capacity send blocks, no compaction, reset when drained.

#include "net/WSocketBuffer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace {

std::vector<char> Pattern(int n) {
    std::vector<char> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<size_t>(i)] = static_cast<char>(i * 7 + 3);
    return v;
}

TEST(NetBuffer, DefaultCapacityForZeroOrNegativeSize) {
    EXPECT_EQ(TBuffer(0).Capacity(), 1514);
    EXPECT_EQ(TBuffer(-5).Capacity(), 1514);
    EXPECT_EQ(TBuffer(10).Capacity(), 10);
}

TEST(NetBuffer, PutDataStopsAtCapacityAndPeekShowsUnreadBytes) {
    TBuffer b(1514);
    const auto data = Pattern(2000);
    EXPECT_EQ(b.PutData(data.data(), 2000), 1514);
    EXPECT_EQ(b.PutData(data.data(), 1), 0); // full
    int len = -1;
    const char* p = b.PeekData(len);
    ASSERT_EQ(len, 1514);
    EXPECT_EQ(std::string(p, 1514), std::string(data.data(), 1514));
    // Peeking removes nothing.
    b.PeekData(len);
    EXPECT_EQ(len, 1514);
}

TEST(NetBuffer, NoCompactionUntilDrainedThenReusable) {
    TBuffer b(1514);
    const auto data = Pattern(1514);
    ASSERT_EQ(b.PutData(data.data(), 1514), 1514);
    EXPECT_EQ(b.Consume(1000), 1000);
    EXPECT_EQ(b.PutData(data.data(), 10), 0); // consumed space is not reused yet
    int len = 0;
    const char* p = b.PeekData(len);
    ASSERT_EQ(len, 514);
    EXPECT_EQ(std::string(p, 514), std::string(data.data() + 1000, 514));
    EXPECT_EQ(b.Consume(514), 514);
    EXPECT_EQ(b.WritePos(), 0);
    EXPECT_EQ(b.ReadPos(), 0);
    EXPECT_EQ(b.PutData(data.data(), 1514), 1514);
}

TEST(NetBuffer, ConsumeMoreThanUnreadTakesWhatIsThereAndResets) {
    TBuffer b(100);
    const auto data = Pattern(40);
    b.PutData(data.data(), 40);
    EXPECT_EQ(b.Consume(15), 15);
    EXPECT_EQ(b.Consume(1000), 25);
    int len = -1;
    EXPECT_EQ(b.PeekData(len), nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(b.Consume(1), 0);
    EXPECT_EQ(b.ReadPos(), 0);
    EXPECT_EQ(b.WritePos(), 0);
}

TEST(NetBuffer, NegativeLengthsChangeNothing) {
    TBuffer b(100);
    const auto data = Pattern(40);
    b.PutData(data.data(), 40);
    b.Consume(10);
    EXPECT_EQ(b.Consume(-5), 0);
    EXPECT_EQ(b.PutData(data.data(), -5), 0);
    EXPECT_EQ(b.ReadPos(), 10);
    EXPECT_EQ(b.WritePos(), 40);
}

TEST(NetBuffer, ResizeKeepsWrittenBytesAndNeverCutsThem) {
    TBuffer b(20);
    const auto data = Pattern(100);
    b.PutData(data.data(), 20);
    b.Consume(5);
    b.Resize(50);
    EXPECT_EQ(b.Capacity(), 50);
    int len = 0;
    const char* p = b.PeekData(len);
    ASSERT_EQ(len, 15);
    EXPECT_EQ(std::string(p, 15), std::string(data.data() + 5, 15));
    EXPECT_EQ(b.PutData(data.data(), 100), 30);
    b.Resize(10); // below WritePos: the written bytes stay
    EXPECT_GE(b.Capacity(), b.WritePos());
    p = b.PeekData(len);
    ASSERT_EQ(len, 45);
    EXPECT_EQ(std::string(p, 15), std::string(data.data() + 5, 15));
}

} // namespace
