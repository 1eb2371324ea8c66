#include "http/interop/HttpFetch.h"

#include "support/Peers.h"
#include "support/Pump.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vt::test {

namespace {

constexpr UINT WM_TEST_ABORT = WM_USER + 50;
constexpr UINT_PTR AbortTimerId = 1;

// Bytes whose value depends on their position, so loss or reordering shows.
std::string Payload(std::int64_t n) {
    std::string s(static_cast<size_t>(n), '\0');
    unsigned x = 12345;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

} // namespace

TTempDir::TTempDir(const std::string& prefix) : Path(MakeTempDir(prefix)) {}

TTempDir::~TTempDir() {
    RemoveTree(Path);
}

bool LogEventuallyHas(const std::string& path, const std::string& text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (ReadFile(path).find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool AllZero(const std::string& path, std::int64_t& size) {
    size = 0;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<char> block(1 << 16);
    bool zero = true;
    size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), f)) > 0) {
        size += static_cast<std::int64_t>(n);
        for (size_t i = 0; i < n && zero; ++i)
            zero = block[i] == 0;
    }
    std::fclose(f);
    return zero;
}

TDocRoot::TDocRoot() : Dir(MakeTempDir("vt-http-docs")) {
    SmallGif = ReadFile(SourceDir() + "/tests/data/gif/rose_c256.gif");
    if (SmallGif.empty()) throw std::runtime_error("test data rose_c256.gif is missing");
    WriteFile(File("small.gif"), SmallGif);
    WriteFile(File("random.bin"), Payload(RandomSize));
    const int fd = ::open(File("big.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, BigSize) != 0)
        throw std::runtime_error("cannot make the sparse file");
    ::close(fd);
    std::filesystem::create_directory(File("sub"));
    IndexHtml = "<html><body>index of sub</body></html>\n";
    WriteFile(File("sub/index.html"), IndexHtml);
    // Peers that drop to another user must be able to read the files.
    ::chmod(Dir.c_str(), 0755);
}

TDocRoot::~TDocRoot() {
    RemoveTree(Dir);
}

std::string TDocRoot::Content(const std::string& name) const {
    return ReadFile(File(name));
}

TFetch::TFetch() : Cli(std::make_unique<THttpCli>(nullptr)) {
    Cli->SetRcvdStream(&Body);
    Cli->OnDocData = [this](TObject*, const void*, int len) {
        DocDataBytes += len;
        ++DocDataCalls;
        if (FAbortAtBytes >= 0 && !AbortPosted && Cli->ReceivedBytes() >= FAbortAtBytes) {
            AbortPosted = true;
            PostMessage(FWindow, WM_TEST_ABORT, 0, 0);
        }
    };
    Cli->OnDocBegin = [this](TObject*) { ++DocBegins; };
    Cli->OnDocEnd = [this](TObject*) { ++DocEnds; };
    Cli->OnHeaderData = [this](TObject*) { ++HeaderDataCalls; };
    Cli->OnLocationChange = [this](TObject*) {
        ++LocationChanges;
        LocationsSeen.push_back(Cli->Location());
    };
    Cli->OnRequestDone = [this](TObject*, THttpRequest, WORD error) {
        ++RequestDones;
        RequestDoneError = error;
    };
    FWindow = AllocateHWnd([this](TMessage& msg) { OnMessage(msg.Msg); });
}

TFetch::~TFetch() {
    Cli.reset();
    DeallocateHWnd(FWindow);
}

void TFetch::OnMessage(unsigned msg) {
    if (msg == WM_TIMER) KillTimer(FWindow, AbortTimerId);
    if (msg == WM_TIMER || msg == WM_TEST_ABORT) {
        AbortPosted = true;
        Cli->Abort();
    }
}

void TFetch::AbortAfterBytes(std::int64_t bytes) {
    FAbortAtBytes = bytes;
}

void TFetch::AbortAfterMs(unsigned ms) {
    SetTimer(FWindow, AbortTimerId, ms);
}

TGetResult TFetch::Get(const std::string& url, int seconds) {
    Watchdog watchdog(seconds, "Get " + url);
    TGetResult result;
    Cli->SetURL(url);
    try {
        Cli->Get();
    } catch (const EHttpException& e) {
        result.Raised = true;
        result.ErrorCode = e.ErrorCode();
        result.Message = e.Message();
    }
    return result;
}

bool TFetch::WaitRequestDone(int timeoutMs) {
    Watchdog watchdog(timeoutMs / 1000 + 5, "waiting for OnRequestDone");
    const bool done = PumpUntil([this] { return RequestDones > 0; }, timeoutMs);
    PumpFor(100);
    return done;
}

std::string TFetch::BodyText() const {
    auto& body = const_cast<TMemoryStream&>(Body);
    if (body.Size() == 0) return {};
    return std::string(static_cast<const char*>(body.Memory()), static_cast<size_t>(body.Size()));
}

std::string TFetch::HeaderText() const {
    return Cli->RcvdHeader().Text();
}

bool TFetch::HeaderHas(const std::string& line) const {
    const TStringList& h = Cli->RcvdHeader();
    for (int i = 0; i < h.Count(); ++i)
        if (h[i] == line) return true;
    return false;
}

} // namespace vt::test
