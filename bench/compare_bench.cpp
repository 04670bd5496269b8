// Benchmark of the change-download comparison.
//   1. Time: CompareImages over two 256 MiB images that differ in a few blocks, against
//      `cmp -l` on the same files (which, like the comparison, reads both to the end),
//      warm cache, best of several rounds each.
//   2. Memory: the peak resident size of a process that compares two 16 MiB images and of
//      one that compares two 256 MiB images; it must not grow with the image size.
// Usage: compare_bench [FOLDER]   (the images are made there, default $TMPDIR or /tmp)
// Internal: compare_bench --compare NEW OLD   (one comparison in a process of its own)

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "image/download_type.h"
#include "image/image_compare.h"

extern char** environ;

namespace {

using kestrel::CImageFile;
using kestrel::CompareImages;
using kestrel::CompareStatus;
using kestrel::CRunTable;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr int kRounds = 5;
constexpr double kTimeGoal = 1.3;

// Two images of the given size; the old one differs by one byte in each listed 128 KiB block.
bool MakeImages(const std::string& newPath, const std::string& oldPath, std::size_t size, const std::vector<std::size_t>& blocks)
{
    std::ofstream newFile(newPath, std::ios::binary | std::ios::trunc);
    std::ofstream oldFile(oldPath, std::ios::binary | std::ios::trunc);
    std::vector<char> chunk(kMiB);
    for (std::size_t offset = 0; offset < size; offset += chunk.size()) {
        for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(((offset + i) * 2654435761u) >> 13);
        newFile.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        for (const std::size_t block : blocks) {
            const std::size_t at = block * kestrel::kCompareBlockSize + 777;
            if (at >= offset && at < offset + chunk.size()) chunk[at - offset] = static_cast<char>(~chunk[at - offset]);
        }
        oldFile.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
    return newFile.good() && oldFile.good();
}

bool CompareFiles(const std::string& newPath, const std::string& oldPath, int32_t& nRuns)
{
    CImageFile newImage;
    CImageFile oldImage;
    int nType = kestrel::DLOAD_COMPARE_EMERGENCY;
    if (!newImage.Load(newPath, nType) || !oldImage.Load(oldPath, nType)) return false;
    CRunTable table;
    std::string error;
    const bool ok = CompareImages(newImage, oldImage, table, [](int, std::string_view) {}, error) == CompareStatus::kCompared;
    nRuns = table.RunCount();
    return ok;
}

// Runs a program with its standard output sent to a file; its exit status and resource use.
// Not /dev/null: cmp notices that and stops at the first difference.
bool Spawn(const std::vector<std::string>& args, const std::string& output, int& status, rusage& usage)
{
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    return wait4(pid, &status, 0, &usage) == pid;
}

template <typename F>
double BestMilliseconds(F&& run)
{
    double best = 1e300;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!run()) return -1;
        best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

long PeakKiB(const std::string& self, const std::string& newPath, const std::string& oldPath, const std::string& output)
{
    int status = 0;
    rusage usage{};
    if (!Spawn({self, "--compare", newPath, oldPath}, output, status, usage) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--compare") {
        int32_t nRuns = 0;
        return CompareFiles(argv[2], argv[3], nRuns) ? 0 : 1;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = argc > 1 ? argv[1] : (tmp != nullptr ? tmp : "/tmp");
    folder += "/kestrel-bench-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string big[2] = {folder + "/new256.bin", folder + "/old256.bin"};
    const std::string small[2] = {folder + "/new16.bin", folder + "/old16.bin"};
    const std::string output = folder + "/output.txt";
    auto cleanup = [&] {
        for (const auto& p : {big[0], big[1], small[0], small[1], output}) std::remove(p.c_str());
        rmdir(folder.c_str());
    };
    const std::vector<std::size_t> differing{3, 700, 701, 1500, 2047};
    std::printf("Making two 256 MiB and two 16 MiB images in %s ...\n", folder.c_str());
    if (!MakeImages(big[0], big[1], 256 * kMiB, differing) || !MakeImages(small[0], small[1], 16 * kMiB, {3, 100})) {
        std::fprintf(stderr, "cannot write the images\n");
        cleanup();
        return 1;
    }

    // Warm the cache, and check that cmp is there and sees the differences.
    int status = 0;
    rusage usage{};
    int32_t nRuns = 0;
    if (!CompareFiles(big[0], big[1], nRuns) || !Spawn({"cmp", "-l", big[0], big[1]}, output, status, usage) || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 1) {
        std::fprintf(stderr, "the warm-up comparison or cmp failed\n");
        cleanup();
        return 1;
    }
    const double compareMs = BestMilliseconds([&] { return CompareFiles(big[0], big[1], nRuns); });
    const double cmpMs = BestMilliseconds([&] {
        return Spawn({"cmp", "-l", big[0], big[1]}, output, status, usage) && WIFEXITED(status) && WEXITSTATUS(status) == 1;
    });
    const long peakSmall = PeakKiB("/proc/self/exe", small[0], small[1], output);
    const long peakBig = PeakKiB("/proc/self/exe", big[0], big[1], output);
    cleanup();
    if (compareMs < 0 || cmpMs < 0 || peakSmall < 0 || peakBig < 0) {
        std::fprintf(stderr, "a measurement failed\n");
        return 1;
    }

    const double ratio = compareMs / cmpMs;
    std::printf("Time, 256 MiB images, %zu differing blocks in %d runs, warm cache, best of %d:\n", differing.size(), nRuns, kRounds);
    std::printf("  CompareImages %8.1f ms\n  cmp -l        %8.1f ms\n  ratio %.2f (goal: at most %.1f) %s\n", compareMs, cmpMs, ratio,
                kTimeGoal, ratio <= kTimeGoal ? "met" : "NOT MET");
    std::printf("Peak memory of a process that compares:\n  16 MiB images  %6ld KiB\n  256 MiB images %6ld KiB\n"
                "  growth %ld KiB for 16 times the size %s\n",
                peakSmall, peakBig, peakBig - peakSmall, (peakBig - peakSmall) < 1024 ? "(flat)" : "(GROWS)");
    return 0;
}
