// libFuzzer target: the HTTP client's whole reception (status and header lines,
// relocation, body, completion) against a peer played from the input by the scripted
// socket library, with event handlers that pump messages or abort as the input says.
//
// Input: a flags byte (which events pump messages), an options byte (request kind,
// proxy, an abort from the n-th event), then the peer's script (ScriptControl.h).
// Every request must end once, in the ready state, as a failure or as a success whose
// document is all there, with the stream holding exactly what OnDocData reported.

#include "FuzzSupport.h"
#include "http/HttpCli.h"
#include "platform/messages/Application.h"

#include <cstddef>
#include <cstdint>

namespace {

enum TPumpIn : std::uint8_t {
    pumpHeaderBegin = 1,
    pumpHeaderData = 2,
    pumpHeaderEnd = 4,
    pumpDocBegin = 8,
    pumpDocData = 16,
    pumpStateChange = 32,
    pumpCookie = 64,
    pumpLocation = 128,
};

struct TRun {
    explicit TRun(std::uint8_t Flags, std::uint8_t Options) : FFlags(Flags) {
        FAbortAt = (Options & 0x80) != 0 ? (Options & 0x0F) + 1 : 0;
        THttpCli& c = Http;
        c.SetRcvdStream(&Body);
        c.OnHeaderBegin = [this](TObject*) { Event(pumpHeaderBegin); };
        c.OnHeaderData = [this](TObject*) { Event(pumpHeaderData); };
        c.OnHeaderEnd = [this](TObject*) { Event(pumpHeaderEnd); };
        c.OnCookie = [this](TObject*, const std::string&, bool&) { Event(pumpCookie); };
        c.OnStateChange = [this](TObject*) { Event(pumpStateChange); };
        c.OnLocationChange = [this](TObject*) {
            ++Relocations;
            Event(pumpLocation);
        };
        c.OnDocBegin = [this](TObject*) {
            ++DocBegins;
            Event(pumpDocBegin);
        };
        c.OnDocData = [this](TObject*, const void*, int len) {
            FUZZ_CHECK(len >= 0 && len <= THttpCli::ReceiveBufferSize + 8);
            FUZZ_CHECK(++Depth == 1); // no data event ever nests
            DocBytes += len;
            Event(pumpDocData);
            --Depth;
        };
        c.OnDocEnd = [this](TObject*) { ++DocEnds; };
        c.OnRequestDone = [this](TObject*, THttpRequest, WORD) { ++Done; };
        if (Options & 0x10) c.SetProxy("proxy.test:3128");
        if (Options & 0x40) {
            Post.WriteBuffer("a=1&b=2", 7);
            Post.SetPosition(0);
            c.SetSendStream(&Post);
        }
        Kind = (Options & 0x40) ? rqPost : (Options & 0x20) ? rqHead : rqGet;
        c.SetURL("http://user:pw@host.test/dir/chart.gif?s=1");
    }

    void Event(std::uint8_t Bit) {
        if (FAbortAt > 0 && ++FEvents == FAbortAt) {
            Aborted = true;
            Http.Abort();
        }
        if (FFlags & Bit) Application.ProcessMessages();
    }

    THttpCli Http{nullptr};
    TMemoryStream Body;
    TMemoryStream Post;
    THttpRequest Kind = rqGet;
    std::int64_t DocBytes = 0;
    int Depth = 0;
    int DocBegins = 0;
    int DocEnds = 0;
    int Relocations = 0;
    int Done = 0;
    bool Aborted = false;

private:
    std::uint8_t FFlags;
    int FAbortAt = 0;
    int FEvents = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    if (Size < 2) return 0;
    auto& script = vt::fuzz::ScriptLibrary();
    script.Play(Data + 2, static_cast<int>(Size - 2));
    {
        TRun run(Data[0], Data[1]);
        THttpCli& c = run.Http;
        bool raised = false;
        try {
            c.ExecuteRequest(run.Kind);
        } catch (EHttpException& e) {
            raised = true;
            FUZZ_CHECK(e.ErrorCode() >= 400);
        }
        while (run.Done == 0 && vt::fuzz::DispatchQueued(1000)) {
        }
        FUZZ_CHECK(run.Done == 1);
        FUZZ_CHECK(c.State() == hsReady);
        FUZZ_CHECK(raised == (c.StatusCode() >= 400));
        FUZZ_CHECK(raised || c.RequestDoneError() == 0);
        // What the stream holds is what the events reported, and nothing else.
        FUZZ_CHECK(run.Body.Size() == run.DocBytes);
        FUZZ_CHECK(c.ReceivedBytes() == run.DocBytes);
        FUZZ_CHECK(run.Relocations <= THttpCli::MaxRelocations);
        if (!run.Aborted) FUZZ_CHECK(run.DocEnds == (run.DocBytes > 0 || run.DocBegins > 0));
        // A success never hands on less than the one response announced.
        if (!raised && run.Relocations == 0 && run.Kind == rqGet && c.StatusCode() == 200 &&
            c.ContentLength() >= 0)
            FUZZ_CHECK(run.DocBytes >= c.ContentLength());
    }
    script.Play(nullptr, 0);
    vt::fuzz::DispatchQueued(100000); // leftovers for windows that are gone
    return 0;
}
