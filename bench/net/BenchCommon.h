#pragma once
// What both transfer benchmarks share: the volume and the CPU clock of the process.

#include <cstddef>
#include <sys/resource.h>

namespace vt::bench {

constexpr std::size_t TransferBytes = std::size_t(256) << 20;
constexpr int ChunkBytes = 64 * 1024;

// User plus system CPU seconds of the whole process (sender and receiver together).
inline double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace vt::bench
