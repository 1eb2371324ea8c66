#include "platform/runtime/BufferedFileStream.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace std::string_literals;

namespace {

template <typename E, typename F> std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return "no error";
}

std::string ContentOf(TMemoryStream& m) {
    return std::string(static_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

// Deterministic bytes that differ at every offset of a few MB.
std::vector<char> Pattern(size_t n) {
    std::vector<char> v(n);
    std::uint32_t x = 0x12345678;
    for (auto& c : v) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return v;
}

// A stream that hands out at most a few bytes per Read, like a pipe or socket.
class TrickleStream : public TStream {
public:
    explicit TrickleStream(std::string data) : FData(std::move(data)) {}
    std::int32_t Read(void* Buffer, std::int32_t Count) override {
        const auto n = static_cast<std::int32_t>(
            std::min<size_t>({static_cast<size_t>(Count), 3, FData.size() - FPos}));
        std::memcpy(Buffer, FData.data() + FPos, static_cast<size_t>(n));
        FPos += static_cast<size_t>(n);
        return n;
    }
    std::int32_t Write(const void*, std::int32_t) override { return 0; }
    std::int64_t Seek(std::int64_t Offset, WORD Origin) override {
        const std::int64_t base = Origin == soFromBeginning ? 0
                                  : Origin == soFromCurrent
                                      ? static_cast<std::int64_t>(FPos)
                                      : static_cast<std::int64_t>(FData.size());
        FPos = static_cast<size_t>(base + Offset);
        return base + Offset;
    }

private:
    std::string FData;
    size_t FPos = 0;
};

class RuntimeFileStream : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vt_streams_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        FDir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(FDir); }
    std::string Path(const char* name) const { return FDir + "/" + name; }
    static std::string Get(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string FDir;
};

} // namespace

TEST(RuntimeMemoryStream, WriteReadSeekAndSize) {
    TMemoryStream m;
    EXPECT_EQ(m.Size(), 0);
    EXPECT_EQ(m.Write("hello world", 11), 11);
    EXPECT_EQ(m.Position(), 11);
    EXPECT_EQ(m.Seek(-5, soFromEnd), 6);
    char buf[16] = {};
    EXPECT_EQ(m.Read(buf, 16), 5);
    EXPECT_STREQ(buf, "world");
    EXPECT_EQ(m.Read(buf, 16), 0) << "at the end";
    m.SetPosition(0);
    m.WriteBuffer("J", 1);
    EXPECT_EQ(ContentOf(m), "Jello world");
    EXPECT_EQ(m.Seek(-1, soFromBeginning), -1) << "no position before the start";
    EXPECT_EQ(m.Position(), 1);
    EXPECT_EQ(m.Seek(2, soFromCurrent), 3);
}

TEST(RuntimeMemoryStream, GapsAndGrowthReadAsZeros) {
    TMemoryStream m;
    m.SetPosition(4);
    m.WriteBuffer("x", 1);
    ASSERT_EQ(m.Size(), 5);
    EXPECT_EQ(ContentOf(m), std::string("\0\0\0\0x", 5));
    m.SetSize(8);
    EXPECT_EQ(ContentOf(m), std::string("\0\0\0\0x\0\0\0", 8));
    EXPECT_EQ(m.Position(), 5);
    m.SetSize(2);
    EXPECT_EQ(m.Position(), 2) << "a position past the new end moves to the end";
    m.Clear();
    EXPECT_EQ(m.Size(), 0);
    EXPECT_EQ(m.Position(), 0);
    EXPECT_EQ(m.Memory(), nullptr);
    // Many small appends keep every byte in order.
    for (int i = 0; i < 100000; ++i) {
        const char c = static_cast<char>(i % 251);
        m.WriteBuffer(&c, 1);
    }
    ASSERT_EQ(m.Size(), 100000);
    const auto* p = static_cast<const unsigned char*>(m.Memory());
    for (int i = 0; i < 100000; i += 997)
        ASSERT_EQ(p[i], i % 251) << i;
}

TEST(RuntimeMemoryStream, ReadBufferShortReadRaisesStreamReadError) {
    TMemoryStream m;
    m.WriteBuffer("abc", 3);
    m.SetPosition(0);
    char buf[8] = {};
    EXPECT_EQ(MessageOf<EReadError>([&] { m.ReadBuffer(buf, 4); }), "Stream read error");
    EXPECT_EQ(std::string(buf, 3), "abc") << "what was there was read";
    m.SetPosition(0);
    m.ReadBuffer(buf, 3);
    m.ReadBuffer(buf, 0); // nothing asked, nothing missing
    // An EReadError is an EStreamError, so a caller may catch either.
    m.SetPosition(3);
    EXPECT_THROW(m.ReadBuffer(buf, 1), EStreamError);
}

TEST(RuntimeMemoryStream, ReadBufferGathersPiecesFromSlowStreams) {
    TrickleStream s("0123456789");
    char buf[10];
    s.ReadBuffer(buf, 10);
    EXPECT_EQ(std::string(buf, 10), "0123456789");
    EXPECT_EQ(MessageOf<EReadError>([&] { s.ReadBuffer(buf, 1); }), "Stream read error");
}

TEST(RuntimeMemoryStream, CopyFromCountAndWholeSource) {
    TMemoryStream src;
    src.WriteBuffer("0123456789", 10);
    src.SetPosition(3);
    TMemoryStream dst;
    EXPECT_EQ(dst.CopyFrom(&src, 4), 4);
    EXPECT_EQ(ContentOf(dst), "3456");
    EXPECT_EQ(src.Position(), 7);

    // Count 0 copies the whole source from its start, wherever it stood.
    EXPECT_EQ(dst.CopyFrom(&src, 0), 10);
    EXPECT_EQ(ContentOf(dst), "34560123456789");

    src.SetPosition(8);
    EXPECT_EQ(MessageOf<EReadError>([&] { dst.CopyFrom(&src, 5); }), "Stream read error");

    // From a stream that delivers a few bytes at a time.
    TrickleStream slow(std::string(200000, 'q'));
    TMemoryStream big;
    EXPECT_EQ(big.CopyFrom(&slow, 0), 200000);
    EXPECT_EQ(ContentOf(big), std::string(200000, 'q'));
}

TEST(RuntimeMemoryStream, LoadAndSaveWholeContent) {
    TMemoryStream a;
    a.WriteBuffer("payload", 7);
    a.SetPosition(5);
    TMemoryStream b;
    b.WriteBuffer("old content that is longer", 26);
    b.LoadFromStream(&a);
    EXPECT_EQ(ContentOf(b), "payload");
    EXPECT_EQ(b.Position(), 0);
    TMemoryStream c;
    b.SetPosition(4);
    b.SaveToStream(&c); // whole content regardless of position
    EXPECT_EQ(ContentOf(c), "payload");
}

TEST_F(RuntimeFileStream, RoundTripOfSeveralMegabytes) {
    const std::string name = Path("big.bin");
    const std::vector<char> data = Pattern(5 * 1024 * 1024 + 123);
    {
        TFileStream out(name, fmCreate);
        // Mixed piece sizes, as a download delivers them.
        size_t done = 0;
        for (size_t piece = 1; done < data.size(); piece = piece * 3 % 70001 + 1) {
            const size_t n = std::min(piece, data.size() - done);
            out.WriteBuffer(data.data() + done, static_cast<std::int32_t>(n));
            done += n;
        }
        EXPECT_EQ(out.Size(), static_cast<std::int64_t>(data.size()));
        EXPECT_EQ(out.Position(), static_cast<std::int64_t>(data.size()));
    }
    ASSERT_EQ(std::filesystem::file_size(name), data.size());

    TFileStream in(name, fmOpenRead | fmShareDenyWrite);
    std::vector<char> back(data.size());
    size_t done = 0;
    for (size_t piece = 7; done < back.size(); piece = piece * 5 % 90001 + 1) {
        const size_t n = std::min(piece, back.size() - done);
        in.ReadBuffer(back.data() + done, static_cast<std::int32_t>(n));
        done += n;
    }
    EXPECT_TRUE(back == data);
    char extra;
    EXPECT_EQ(in.Read(&extra, 1), 0);

    TMemoryStream m;
    m.LoadFromFile(name);
    ASSERT_EQ(m.Size(), static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(std::memcmp(m.Memory(), data.data(), data.size()), 0);
}

TEST_F(RuntimeFileStream, WritesLandInTheFileAtOnceAndInOrder) {
    const std::string name = Path("MSFT.gif");
    TFileStream out(name, fmCreate);
    out.WriteBuffer("GIF8", 4);
    EXPECT_EQ(Get(name), "GIF8") << "another reader sees the bytes while the stream is open";
    out.WriteBuffer("9a", 2);
    EXPECT_EQ(Get(name), "GIF89a");
    out.SetPosition(3);
    out.WriteBuffer("7", 1);
    EXPECT_EQ(Get(name), "GIF79a");
    EXPECT_EQ(out.Position(), 4);
}

TEST_F(RuntimeFileStream, BufferedStreamWritesWholeBlocksInOrder) {
    const std::string name = Path("chart.bin");
    constexpr size_t kPiece = 8 * 1024;
    constexpr size_t kBlock = 128 * 1024;
    const std::vector<char> data = Pattern(kBlock * 3 + 5000);
    TBufferedFileStream out(name, fmCreate);
    size_t done = 0;
    auto write = [&](size_t n) {
        out.WriteBuffer(data.data() + done, static_cast<std::int32_t>(n));
        done += n;
    };
    for (int i = 0; i < 15; ++i)
        write(kPiece);
    EXPECT_EQ(std::filesystem::file_size(name), 0u) << "15 pieces are gathered, not written";
    write(kPiece);
    write(kPiece);
    EXPECT_EQ(std::filesystem::file_size(name), kBlock) << "the 17th piece wrote out one block";
    write(kBlock + 3000); // a large piece follows the gathered one directly
    write(data.size() - done);
    ASSERT_EQ(done, data.size());
    out.Flush();
    EXPECT_EQ(Get(name), std::string(data.begin(), data.end()));
}

TEST_F(RuntimeFileStream, BufferedStreamReadsSeeksAndSizesSeeEveryWrite) {
    const std::string name = Path("MSFT.gif");
    {
        TBufferedFileStream f(name, fmCreate);
        f.WriteBuffer("GIF89a", 6);
        EXPECT_EQ(f.Size(), 6);
        EXPECT_EQ(f.Position(), 6);
        f.SetPosition(3);
        f.WriteBuffer("7", 1);
        f.SetPosition(0);
        char back[7] = {};
        f.ReadBuffer(back, 6);
        EXPECT_STREQ(back, "GIF79a");
        f.WriteBuffer("tail", 4);
        f.SetSize(12);
        EXPECT_EQ(Get(name), "GIF79atail"s + std::string(2, '\0'));
        f.SetPosition(10);
        f.WriteBuffer("!!", 2);
    }
    EXPECT_EQ(Get(name), "GIF79atail!!") << "destruction writes out what is gathered";
}

TEST(RuntimeBufferedFileStream, AFailedWriteOutIsReported) {
    // Every write to this device fails for want of space.
    TBufferedFileStream full("/dev/full", fmOpenWrite);
    EXPECT_EQ(full.Write("GIF89a", 6), 6) << "gathered, not yet written";
    EXPECT_EQ(MessageOf<EWriteError>([&] { full.Flush(); }), "Stream write error");
    full.Flush(); // the lost bytes are reported once

    const std::vector<char> piece(8 * 1024, 'x');
    int accepted = 0;
    while (full.Write(piece.data(), static_cast<std::int32_t>(piece.size())) != 0)
        ++accepted;
    EXPECT_EQ(accepted, 16) << "the write that needed room for its piece failed";
    EXPECT_EQ(MessageOf<EWriteError>([&] { full.Flush(); }), "no error")
        << "the failed block was reported by that write";
    full.WriteBuffer("x", 1);
    EXPECT_EQ(MessageOf<EWriteError>([&] { full.Size(); }), "Stream write error")
        << "sizing writes out first, and says that it could not";
}

TEST_F(RuntimeFileStream, SeeksAndReadsMixWithWrites) {
    const std::string name = Path("mix.bin");
    TFileStream f(name, fmCreate);
    f.WriteBuffer("abcdefghij", 10);
    f.SetPosition(2);
    char buf[4] = {};
    f.ReadBuffer(buf, 3);
    EXPECT_EQ(std::string(buf, 3), "cde");
    EXPECT_EQ(f.Position(), 5);
    f.WriteBuffer("XY", 2); // right after what was read, despite the read-ahead
    EXPECT_EQ(Get(name), "abcdeXYhij");
    EXPECT_EQ(f.Seek(-3, soFromCurrent), 4);
    f.ReadBuffer(buf, 3);
    EXPECT_EQ(std::string(buf, 3), "eXY");
    EXPECT_EQ(f.Seek(-1, soFromEnd), 9);
    f.ReadBuffer(buf, 1);
    EXPECT_EQ(buf[0], 'j');
    EXPECT_EQ(f.Seek(-11, soFromEnd), -1);
    EXPECT_EQ(f.Position(), 10);
    f.SetSize(4);
    EXPECT_EQ(f.Size(), 4);
    EXPECT_EQ(f.Position(), 4);
    EXPECT_EQ(Get(name), "abcd");
    f.SetPosition(6);
    f.WriteBuffer("z", 1);
    EXPECT_EQ(Get(name), std::string("abcd\0\0z", 7));
}

TEST_F(RuntimeFileStream, OpenErrorsNameTheFile) {
    const std::string missing = Path("missing.gif");
    EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream f(missing, fmOpenRead); }),
              "Cannot open file " + missing);
    EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream f(FDir, fmOpenRead); }),
              "Cannot open file " + FDir)
        << "a directory is no file";
    const std::string nowhere = Path("no/such/dir/x.gif");
    EXPECT_EQ(MessageOf<EFCreateError>([&] { TFileStream f(nowhere, fmCreate); }),
              "Cannot create file " + nowhere);
    EXPECT_EQ(MessageOf<EFOpenError>([&] {
                  TMemoryStream m;
                  m.LoadFromFile(missing);
              }),
              "Cannot open file " + missing);
    EXPECT_FALSE(std::filesystem::exists(missing)) << "opening must not create";
    EXPECT_THROW(TFileStream("", fmOpenRead), EStreamError);
}

TEST_F(RuntimeFileStream, ModesGiveTheirAccess) {
    const std::string name = Path("modes.txt");
    { TFileStream(name, fmCreate).WriteBuffer("12345", 5); }
    {
        TFileStream r(name, fmOpenRead);
        EXPECT_EQ(MessageOf<EWriteError>([&] { r.WriteBuffer("x", 1); }), "Stream write error");
    }
    {
        TFileStream w(name, fmOpenWrite | fmShareExclusive); // keeps content, no truncation
        w.WriteBuffer("ab", 2);
        char c;
        EXPECT_EQ(w.Read(&c, 1), 0);
    }
    EXPECT_EQ(Get(name), "ab345");
    {
        TFileStream rw(name, fmOpenReadWrite);
        rw.SetPosition(4);
        rw.WriteBuffer("Z", 1);
    }
    EXPECT_EQ(Get(name), "ab34Z");
    { TFileStream c(name, fmCreate | fmShareDenyWrite); } // truncates
    EXPECT_EQ(Get(name), "");
}

TEST_F(RuntimeFileStream, HandleStreamLeavesDescriptorOpenAndAtItsPosition) {
    const std::string name = Path("h.txt");
    { TFileStream(name, fmCreate).WriteBuffer("0123456789", 10); }
    const int fd = ::open(name.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    {
        THandleStream h(fd);
        char buf[3];
        h.ReadBuffer(buf, 3);
        EXPECT_EQ(std::string(buf, 3), "012");
        EXPECT_EQ(h.Size(), 10);
    }
    char next;
    ASSERT_EQ(::read(fd, &next, 1), 1) << "the descriptor must stay open";
    EXPECT_EQ(next, '3') << "read-ahead must be given back";
    ::close(fd);
}

TEST(RuntimeHandleStream, DevicesAndPipesAnswerWithoutLooping) {
    const int null = ::open("/dev/null", O_RDWR);
    ASSERT_GE(null, 0);
    {
        THandleStream dev(null);
        EXPECT_EQ(dev.Seek(0, soFromEnd), 0);
        EXPECT_EQ(dev.Size(), 0);
        EXPECT_EQ(dev.Write("abc", 3), 3);
        char c;
        EXPECT_EQ(dev.Read(&c, 1), 0);
    }
    ::close(null);

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "pipe", 4), 4);
    ::close(fds[1]);
    {
        THandleStream pipe(fds[0]);
        EXPECT_EQ(pipe.Seek(0, soFromEnd), -1) << "a pipe cannot seek";
        char buf[4];
        pipe.ReadBuffer(buf, 4);
        EXPECT_EQ(std::string(buf, 4), "pipe");
        EXPECT_EQ(MessageOf<EReadError>([&] { pipe.ReadBuffer(buf, 1); }), "Stream read error");
    }
    ::close(fds[0]);
}
