#pragma once
// What the download benchmarks share: the children's CPU, a font image of a given size, and
// a figure printed against its goal.

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kestrel::bench {

// CPU seconds of the children reaped so far.
inline double ChildrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A font image (no boot marker: written as FONT(EMRGENCY) at the address given) of
// pseudo-random bytes.
inline std::string MakeImage(const std::filesystem::path& dir, std::size_t size)
{
    std::vector<char> b(size);
    uint32_t x = 12345;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<char>(x >> 16);
    }
    b[0x37] = 'F';
    const auto path = (dir / ("image-" + std::to_string(size) + ".bin")).string();
    std::ofstream(path, std::ios::binary).write(b.data(), static_cast<std::streamsize>(b.size()));
    return path;
}

// One line: the figure, its goal and whether it is met; a figure short of its goal is
// reported, not hidden.
inline void Verdict(const char* what, double value, const char* unit, double goal, bool atLeast)
{
    const bool met = atLeast ? value >= goal : value <= goal;
    std::printf("%-52s %10.2f %-9s goal %s %.2f: %s\n", what, value, unit, atLeast ? ">=" : "<=", goal,
                met ? "met" : "NOT MET");
}

}  // namespace kestrel::bench
