// THttpCli against python3's http.server, an HTTP/1.0 origin of another make: small and
// large documents byte for byte, its 404, and its directory redirect.

#include "http/interop/HttpSuites.h"

#include "support/Peers.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using vt::test::AllZero;
using vt::test::TDocRoot;
using vt::test::TFetch;
using vt::test::TGetResult;
using vt::test::TPythonHttpPeer;

class HttpPython : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Docs = std::make_unique<TDocRoot>();
        Server = std::make_unique<TPythonHttpPeer>();
        Failure = Server->Start(Docs->Dir);
    }
    static void TearDownTestSuite() {
        Server.reset();
        Docs.reset();
    }
    void SetUp() override { VT_REQUIRE_PEER(Failure, "python3"); }
    void TearDown() override {
        if (HasFailure() && Server) std::cerr << "http.server log:\n" << Server->Logs() << "\n";
    }

    static inline std::unique_ptr<TDocRoot> Docs;
    static inline std::unique_ptr<TPythonHttpPeer> Server;
    static inline std::string Failure;
};

TEST_F(HttpPython, SmallGifAndPositionDependentBytesArriveIntact) {
    TFetch f;
    TGetResult r = f.Get(Server->Url("/small.gif"));
    ASSERT_FALSE(r.Raised) << r.Message;
    EXPECT_TRUE(f.BodyText() == Docs->SmallGif) << "received " << f.Body.Size() << " bytes";
    ASSERT_GT(f.Cli->RcvdHeader().Count(), 0);
    EXPECT_EQ(f.Cli->RcvdHeader()[0], "HTTP/1.0 200 OK");
    EXPECT_EQ(f.Cli->ContentType(), "image/gif");
    EXPECT_EQ(f.Cli->ContentLength(), static_cast<std::int64_t>(Docs->SmallGif.size()));
    ASSERT_TRUE(f.WaitRequestDone());
    EXPECT_EQ(f.RequestDones, 1);
    EXPECT_EQ(f.RequestDoneError, 0);

    f.Body.Clear();
    r = f.Get(Server->Url("/random.bin"));
    ASSERT_FALSE(r.Raised) << r.Message;
    EXPECT_EQ(f.Body.Size(), TDocRoot::RandomSize);
    EXPECT_TRUE(f.BodyText() == Docs->Content("random.bin")) << "received bytes differ";
    EXPECT_EQ(f.Cli->ReceivedBytes(), TDocRoot::RandomSize);
}

TEST_F(HttpPython, HundredMegabytesStreamIntoAFile) {
    const vt::test::TTempDir dir("vt-http-big");
    const std::string path = dir.Path + "/big.bin";
    TFetch f;
    {
        TFileStream file(path, fmCreate);
        f.Cli->SetRcvdStream(&file);
        const TGetResult r = f.Get(Server->Url("/big.bin"), 50);
        f.Cli->SetRcvdStream(nullptr);
        EXPECT_FALSE(r.Raised) << r.Message;
    }
    std::int64_t size = 0;
    EXPECT_TRUE(AllZero(path, size)) << "a non-zero byte arrived";
    EXPECT_EQ(size, TDocRoot::BigSize);
    EXPECT_EQ(f.Cli->ReceivedBytes(), TDocRoot::BigSize);
    EXPECT_EQ(f.DocDataBytes, TDocRoot::BigSize);
    ASSERT_TRUE(f.WaitRequestDone());
    EXPECT_EQ(f.RequestDoneError, 0);
}

TEST_F(HttpPython, MissingFileRaisesWithTheServersReason) {
    TFetch f;
    const TGetResult r = f.Get(Server->Url("/no-such-chart.gif"));
    ASSERT_TRUE(r.Raised);
    EXPECT_EQ(r.ErrorCode, 404);
    EXPECT_EQ(r.Message, "File not found");
    EXPECT_EQ(f.Cli->StatusCode(), 404);
    EXPECT_EQ(f.Cli->ReasonPhrase(), "File not found");
    ASSERT_TRUE(f.WaitRequestDone());
    EXPECT_EQ(f.RequestDones, 1);
}

TEST_F(HttpPython, DirectoryRedirectIsFollowed) {
    // http.server answers "/sub" with 301 and "Location: /sub/", then serves its index.
    TFetch f;
    const TGetResult r = f.Get(Server->Url("/sub"));
    ASSERT_FALSE(r.Raised) << r.Message << "\n" << f.HeaderText();
    EXPECT_EQ(f.BodyText(), Docs->IndexHtml);
    EXPECT_EQ(f.LocationChanges, 1);
    EXPECT_TRUE(f.HeaderHas("Location: /sub/")) << f.HeaderText();
    EXPECT_EQ(f.Cli->StatusCode(), 200);
    EXPECT_EQ(f.Cli->ContentType(), "text/html");
    EXPECT_EQ(f.Cli->Location(), Server->Url("/sub/"));
    ASSERT_TRUE(f.WaitRequestDone());
    EXPECT_EQ(f.RequestDones, 1);
}
