#pragma once
// How long the rest of a write will take, from the rate of its last few seconds: nothing until
// a few blocks have gone, so that the open, the erase and the first block's latency do not
// make up a figure.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace kestrel {

class CTimeLeft {
public:
    // Blocks sent before an estimate is given, and the stretch of time it is taken over.
    static constexpr int kMinBlocks = 4;
    static constexpr int64_t kWindowMs = 5000;

    // A block of a range of total blocks has gone at nowMs (block counts those sent, 1 up);
    // block 1, or another total, starts a new range.
    void OnBlock(int64_t nowMs, int block, int total);
    // Whole seconds left, rounded up; nullopt before there is enough to go by.
    std::optional<int> Seconds() const;
    // The pace it goes by, in image bytes (1024 a block) per second; nullopt as for Seconds.
    std::optional<int64_t> BytesPerSecond() const;

private:
    // Milliseconds a block over the window; nullopt before there is enough to go by.
    std::optional<double> MsPerBlock() const;

    struct SSample {
        int64_t nMs;
        int nBlock;
    };
    std::deque<SSample> m_samples;
    int m_nTotal = 0;
};

// "1:05 left"; "" while there is no estimate.
std::string TimeLeftText(const CTimeLeft& left);

}  // namespace kestrel
