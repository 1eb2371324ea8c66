#pragma once
// What the interop tests share: a document root with the served files, and one
// THttpCli whose blocking Get runs under a watchdog while every event it raises is
// recorded.

#include "http/HttpCli.h"
#include "platform/runtime/Streams.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vt::test {

// Served files, made once per test suite in a private folder:
//   small.gif    a real GIF from the test data (about 10 kB)
//   random.bin   2 MiB of position-dependent bytes (loss or reordering shows)
//   big.bin      a 100 MiB sparse file (all zero bytes)
//   sub/index.html  a small page, for directory redirects
class TDocRoot {
public:
    TDocRoot();
    ~TDocRoot();
    TDocRoot(const TDocRoot&) = delete;
    TDocRoot& operator=(const TDocRoot&) = delete;

    std::string File(const std::string& name) const { return Dir + "/" + name; }
    std::string Content(const std::string& name) const;

    static constexpr std::int64_t BigSize = 100 * 1024 * 1024;
    static constexpr std::int64_t RandomSize = 2 * 1024 * 1024;
    std::string Dir;
    std::string SmallGif;  // content of small.gif
    std::string IndexHtml; // content of sub/index.html
};

// The outcome of one Get.
struct TGetResult {
    bool Raised = false; // Get raised EHttpException
    int ErrorCode = 0;   // its ErrorCode
    std::string Message; // its message
};

// One client with recorders on its events. The body goes to Body unless a test hands
// in another stream.
class TFetch {
public:
    TFetch();
    ~TFetch();
    TFetch(const TFetch&) = delete;
    TFetch& operator=(const TFetch&) = delete;

    // Sets URL and runs Get under a watchdog of `seconds`.
    TGetResult Get(const std::string& url, int seconds = 20);
    // Pumps until OnRequestDone came (bounded), then a little longer so that a second
    // report would show; returns false when none came.
    bool WaitRequestDone(int timeoutMs = 3000);
    // Aborts the request from the message loop, as a button would: once ReceivedBytes
    // reaches `bytes`, or when a timer of `ms` milliseconds runs out.
    void AbortAfterBytes(std::int64_t bytes);
    void AbortAfterMs(unsigned ms);
    // The received body when it went to Body.
    std::string BodyText() const;
    // The raw response lines as one text, for failure messages.
    std::string HeaderText() const;
    bool HeaderHas(const std::string& line) const;

    std::unique_ptr<THttpCli> Cli;
    TMemoryStream Body;

    std::int64_t DocDataBytes = 0; // sum of OnDocData lengths
    int DocDataCalls = 0;
    int DocBegins = 0;
    int DocEnds = 0;
    int HeaderDataCalls = 0;
    int LocationChanges = 0;
    std::vector<std::string> LocationsSeen; // Location() at each OnLocationChange
    int RequestDones = 0;
    int RequestDoneError = -1;
    bool AbortPosted = false;

private:
    void OnMessage(unsigned msg);
    HWND FWindow = nullptr;
    std::int64_t FAbortAtBytes = -1;
};

// A private folder removed with everything in it when the object goes.
class TTempDir {
public:
    explicit TTempDir(const std::string& prefix);
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string Path;
};

// Polls a peer's log file until it holds `text` (peers write some lines only after the
// connection has closed); false when it does not within timeoutMs.
bool LogEventuallyHas(const std::string& path, const std::string& text, int timeoutMs = 3000);

// True when every byte of the file is zero; also gives its size.
bool AllZero(const std::string& path, std::int64_t& size);

} // namespace vt::test
