#pragma once
// The animated control's benchmarks, registered by bench_gif's main beside TGIFImage's.

#include <cstdint>
#include <string>
#include <vector>

// Writes the control's own benchmark files (a transparent animation) into Folder.
void MakeControlBenchFiles(const std::string& Folder);
// TFrame decoding and the control's load of File, whose frames hold Pixels pixels.
void RegisterControlBenchmarks(const std::string& Name, const std::vector<unsigned char>& File,
                               std::int64_t Pixels);
// Frames composed per second of the transparent animation made in Folder.
void RegisterCompositionBenchmark(const std::string& Folder);
