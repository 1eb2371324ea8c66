// brenvik-chartservice: a local chart service for the viewer. It answers the viewer's
// chart addresses as an origin server and as an HTTP proxy, so the viewer reaches it
// through its proxy settings ("Data" "ProxyHost" / "ProxyPort").
//
//   brenvik-chartservice [--addr A] [--port P] [--data FOLDER] [--no-sample] [--log]
//
// Prices come from SYMBOL.csv in FOLDER (Date,Open,High,Low,Close,Volume); symbols
// without a file get made-up prices marked "sample data", or 404 with --no-sample.
// Prints "listening on http://A:P/" once ready, and with --log one line per request
// ("GET /t?s=IBM HTTP/1.0 -> 200, 1491 bytes"); SIGINT or SIGTERM end it.

#include "chartservice/ChartServer.h"
#include "chartservice/ChartService.h"
#include "platform/messages/Messages.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr std::size_t MaxLoggedLine = 200;

struct TOptions {
    std::string Addr = "127.0.0.1";
    std::string Port = "0";
    std::string DataFolder;
    bool AllowSample = true;
    bool Log = false;
};

int Usage() {
    std::fprintf(stderr, "usage: brenvik-chartservice [--addr A] [--port P] [--data FOLDER] "
                         "[--no-sample] [--log]\n");
    return 2;
}

bool ParseOptions(int argc, char** argv, TOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--addr" && hasValue)
            options.Addr = argv[++i];
        else if (arg == "--port" && hasValue)
            options.Port = argv[++i];
        else if (arg == "--data" && hasValue)
            options.DataFolder = argv[++i];
        else if (arg == "--no-sample")
            options.AllowSample = false;
        else if (arg == "--log")
            options.Log = true;
        else
            return false;
    }
    return true;
}

// SIGINT and SIGTERM arrive as readable data on a descriptor the loop watches, so the
// program ends through its loop and frees its sockets.
int WatchStopSignals(HWND owner) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) return -1;
    const int fd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd >= 0) vt::WatchDescriptor(owner, fd, EPOLLIN, [](std::uint32_t) { PostQuitMessage(0); });
    return fd;
}

// One line per request; what the client sent is shown printable and short.
void LogAnswer(const std::string& requestLine, const std::string& response) {
    std::string line = requestLine.substr(0, MaxLoggedLine);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
    const std::size_t body = response.find("\r\n\r\n");
    std::printf("%s -> %.3s, %zu bytes\n", line.c_str(),
                response.size() > 12 ? response.c_str() + 9 : "???",
                body == std::string::npos ? 0 : response.size() - body - 4);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    TOptions options;
    if (!ParseOptions(argc, argv, options)) return Usage();
    // Charts are drawn off screen; the service never opens a window.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

    const TChartService service(options.DataFolder, options.AllowSample);
    TChartServer server(service);
    server.OnError = [](const std::string& text) {
        std::fprintf(stderr, "brenvik-chartservice: %s\n", text.c_str());
    };
    if (options.Log) server.OnAnswer = LogAnswer;
    const HWND signalWindow = AllocateHWnd([](TMessage&) {});
    const int signalFd = WatchStopSignals(signalWindow);
    try {
        server.Listen(options.Addr, options.Port);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "brenvik-chartservice: %s\n", error.what());
        return 1;
    }
    std::printf("listening on http://%s:%s/\n", options.Addr.c_str(), server.Port().c_str());
    std::fflush(stdout);

    MSG msg;
    while (GetMessage(msg, nullptr, 0, 0)) {
        TranslateMessage(msg);
        DispatchMessage(msg);
    }
    if (signalFd >= 0) {
        vt::UnwatchDescriptor(signalWindow, signalFd);
        close(signalFd);
    }
    DeallocateHWnd(signalWindow);
    return 0;
}
