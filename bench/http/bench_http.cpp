// THttpCli as the chart window uses it, measured from outside: throughput, CPU time,
// peak resident memory, requests per second and the cost of waiting.
//
//   bench_http URL OUTFILE [PROXY:PORT]   one download into a file
//   bench_http --requests N URL           N GETs one after the other, a connection each
//   bench_http --idle SECONDS URL         a GET to a server that never answers, aborted
//                                         after SECONDS: the CPU the wait used
//
// The last line is for scripts: "key=value" pairs.

#include "http/HttpCli.h"
#include "platform/runtime/BufferedFileStream.h"
#include "platform/runtime/Streams.h"
#include "util/Timer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <sys/resource.h>

namespace {

constexpr double MB = 1e6;
constexpr double CpuUnitBytes = 100 * MB;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long PeakResidentKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Wall clock and CPU time of one stretch of work.
class TStopwatch {
public:
    double Wall() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
    }
    double Cpu() const { return CpuSeconds() - FCpu; }

private:
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
    double FCpu = CpuSeconds();
};

int Download(const char* Url, const char* OutFile, const char* Proxy) {
    THttpCli cli(nullptr);
    // The stream the chart window writes its download into.
    TBufferedFileStream out(OutFile, fmCreate);
    cli.SetURL(Url);
    if (Proxy) cli.SetProxy(Proxy);
    cli.SetRcvdStream(&out);

    const TStopwatch watch;
    cli.Get();
    const double wall = watch.Wall();
    const double cpu = watch.Cpu();

    const double bytes = static_cast<double>(cli.ReceivedBytes());
    if (bytes <= 0) {
        std::fprintf(stderr, "nothing was received (status %d %s)\n", cli.StatusCode(),
                     cli.ReasonPhrase().c_str());
        return 1;
    }
    std::printf("received     %.0f bytes (status %d)\n", bytes, cli.StatusCode());
    std::printf("throughput   %.1f MB/s\n", bytes / MB / wall);
    std::printf("cpu          %.3f s per 100 MB\n", cpu * CpuUnitBytes / bytes);
    std::printf("peak memory  %ld KiB resident\n", PeakResidentKiB());
    std::printf("bytes=%.0f seconds=%.6f cpu=%.6f maxrss_kib=%ld\n", bytes, wall, cpu,
                PeakResidentKiB());
    return 0;
}

// As the chart window fetches a chart: one Get after the other on one client, each on a
// fresh connection (HTTP/1.0), the picture kept in memory.
int Requests(int Count, const char* Url) {
    THttpCli cli(nullptr);
    TMemoryStream picture;
    cli.SetURL(Url);
    cli.SetRcvdStream(&picture);

    std::int64_t size = -1;
    const TStopwatch watch;
    for (int i = 0; i < Count; ++i) {
        picture.SetSize(0);
        cli.Get();
        if (size < 0) size = picture.Size();
        if (cli.StatusCode() != 200 || picture.Size() != size || size <= 0) {
            std::fprintf(stderr, "request %d: status %d, %lld bytes\n", i + 1, cli.StatusCode(),
                         static_cast<long long>(picture.Size()));
            return 1;
        }
    }
    const double wall = watch.Wall();
    const double cpu = watch.Cpu();
    std::printf("requests     %d of %lld bytes each\n", Count, static_cast<long long>(size));
    std::printf("rate         %.0f requests/s\n", Count / wall);
    std::printf("per request  %.1f us wall, %.1f us CPU\n", wall * 1e6 / Count, cpu * 1e6 / Count);
    std::printf("requests=%d seconds=%.6f cpu=%.6f\n", Count, wall, cpu);
    return 0;
}

// A Get that waits for a server that accepted the connection and says nothing; a timer
// aborts it. The wait must leave the core to others.
int Idle(double Seconds, const char* Url) {
    THttpCli cli(nullptr);
    TMemoryStream picture;
    cli.SetURL(Url);
    cli.SetRcvdStream(&picture);
    vt::TTimer timer(nullptr);
    timer.SetInterval(static_cast<UINT>(Seconds * 1000));
    timer.SetOnTimer([&](TObject*) {
        timer.SetEnabled(false);
        cli.Abort();
    });

    const TStopwatch watch;
    try {
        cli.Get();
        std::fprintf(stderr, "the server answered (status %d)\n", cli.StatusCode());
        return 1;
    } catch (const EHttpException&) {
        // the abort
    }
    const double wall = watch.Wall();
    const double cpu = watch.Cpu();
    std::printf("waited       %.2f s, %.4f s CPU (%.3f%% of a core)\n", wall, cpu,
                100 * cpu / wall);
    std::printf("seconds=%.6f cpu=%.6f\n", wall, cpu);
    return 0;
}

int Usage(const char* Program) {
    std::fprintf(stderr,
                 "usage: %s URL OUTFILE [PROXY:PORT]\n"
                 "       %s --requests N URL\n"
                 "       %s --idle SECONDS URL\n",
                 Program, Program, Program);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 4 && std::strcmp(argv[1], "--requests") == 0)
            return Requests(std::atoi(argv[2]), argv[3]);
        if (argc == 4 && std::strcmp(argv[1], "--idle") == 0)
            return Idle(std::atof(argv[2]), argv[3]);
        if (argc == 3 || argc == 4)
            return Download(argv[1], argv[2], argc == 4 ? argv[3] : nullptr);
        return Usage(argv[0]);
    } catch (const EHttpException& e) {
        std::fprintf(stderr, "HTTP error %u: %s\n", e.ErrorCode(), e.Message().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
    }
    return 1;
}
