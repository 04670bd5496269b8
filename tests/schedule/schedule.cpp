#include "schedule.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "image/download_type.h"
#include "image/run_table.h"
#include "tests/support/boot_image.h"

namespace kestrel::test {
namespace {

constexpr std::size_t kBlock = 1024;
// The header a boot image keeps: changing it would make the image something else.
constexpr std::size_t kHeaderEnd = 0x40;

// Draws from std::mt19937_64 without the library's distributions, whose results differ
// between standard libraries: a seed must give the same schedule everywhere.
class CRandom {
public:
    explicit CRandom(uint64_t seed) : m_rng(seed) {}
    uint64_t Next() { return m_rng(); }
    // In [lo, hi].
    int64_t Between(int64_t lo, int64_t hi)
    {
        return lo + static_cast<int64_t>(m_rng() % static_cast<uint64_t>(hi - lo + 1));
    }
    bool Percent(int percent) { return Between(1, 100) <= percent; }

private:
    std::mt19937_64 m_rng;
};

std::string Format(const char* format, auto... args)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

// A new image for the type: a font without the boot marker, anything else with it.
Bytes TypedImage(CRandom& r, int type)
{
    std::size_t size = static_cast<std::size_t>(r.Between(1, 40)) * kBlock;
    const auto shortest = static_cast<int64_t>(std::min(kBlock - 1, size - kHeaderEnd));
    if (r.Percent(50)) size -= static_cast<std::size_t>(r.Between(1, shortest));
    return MakeImage(r.Next(), size, !IsFontType(type));
}

// The old image with a few bytes changed in one or two of its 128 KiB blocks; now and then
// the same image.
Bytes CompareVariant(CRandom& r, const Bytes& old, int identicalPercent)
{
    Bytes image = old;
    if (r.Percent(identicalPercent)) return image;
    const auto blocks = static_cast<int64_t>(old.size() / kCompareBlockSize);
    const int64_t first = r.Between(0, blocks - 1);
    const int64_t second = blocks > 1 && r.Percent(50) ? r.Between(0, blocks - 1) : first;
    for (const int64_t b : {first, second}) {
        const int64_t start = b * kCompareBlockSize + (b == 0 ? static_cast<int64_t>(kHeaderEnd) : 0);
        for (int64_t n = r.Between(1, 16); n > 0; --n) {
            const auto at = static_cast<std::size_t>(r.Between(start, (b + 1) * kCompareBlockSize - 1));
            image[at] ^= static_cast<uint8_t>(r.Between(1, 255));
        }
    }
    return image;
}

std::string Occurrence(CRandom& r, int64_t most)
{
    const int64_t n = r.Percent(70) ? 1 : r.Between(2, most);
    return n == 1 ? std::string() : "@" + std::to_string(n);
}

// An event of the handset, as the scenario writes its trigger.
std::string Trigger(CRandom& r, const Schedule& s)
{
    const bool compare = s.nType == DLOAD_COMPARE_EMERGENCY;
    const int64_t rangeBlocks = compare ? static_cast<int64_t>(kCompareBlockSize / kBlock)
                                        : static_cast<int64_t>((s.image.size() + kBlock - 1) / kBlock);
    const int64_t pick = r.Between(0, 99);
    if (pick < 20) return "start" + Occurrence(r, 3);
    if (pick < 40) return "jump" + Occurrence(r, 2);
    if (pick < 55) return "erase" + Occurrence(r, 2);
    if (pick < 90) {
        if (r.Percent(50)) return "block:" + std::to_string(r.Between(0, rangeBlocks - 1)) + Occurrence(r, 2);
        const int64_t n = r.Between(1, compare ? rangeBlocks * 2 : rangeBlocks);
        return n == 1 ? std::string("block") : "block@" + std::to_string(n);
    }
    return "retry" + Occurrence(r, 2);
}

std::string HexBytes(CRandom& r, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i) out += Format(" %02x", static_cast<unsigned>(r.Between(0, 255)));
    return out;
}

FaultRule MakeFault(CRandom& r, const Schedule& s)
{
    FaultRule f;
    const std::string trigger = Trigger(r, s);
    auto rule = [&](const std::string& action) { f.vecRules.push_back(trigger + " " + action); };
    static constexpr const char* kNaks[] = {"nak-bad-crc", "nak-model", "nak-invalid", "nak-failed"};
    const int64_t pick = r.Between(0, 99);
    if (pick < 12) {
        rule("drop");
    } else if (pick < 24) {
        rule("late " + std::to_string(r.Between(0, 3500)));
    } else if (pick < 32) {
        f.strEchoTrigger = trigger;
        f.nEchoMs = static_cast<unsigned>(r.Between(0, 600));
    } else if (pick < 38) {
        rule("split " + std::to_string(r.Between(0, 50)));
    } else if (pick < 46) {
        // Never a flag or an escape: garbage must not make or break a frame by itself.
        std::string bytes;
        for (int64_t n = r.Between(1, 16); n > 0; --n) {
            int64_t b = r.Between(0, 252);
            if (b >= 0x7D) b += 3;
            bytes += Format(" %02x", static_cast<unsigned>(b));
        }
        rule("garbage" + bytes);
        f.bGarbageOwnBurst = r.Percent(50);
    } else if (pick < 70) {
        rule(kNaks[(pick - 46) / 6]);
    } else if (pick < 78) {
        // A NAK whose parameters are not the ones the handset sends with it.
        const auto nak = static_cast<std::size_t>(r.Between(0, 3));
        std::string params = HexBytes(r, 2);
        if ((nak == 2 && params == " 9e 4c") || (nak == 3 && params == " 00 00")) params = " 12 34";
        rule(std::string(kNaks[nak]) + params);
    } else if (pick < 82) {
        // The code damaged on the line, its check value left as it was.
        static constexpr unsigned kCodes[] = {0x03, 0xA1, 0xA2, 0xA3, 0xA4, 0x55};
        rule(Format("code %02x", kCodes[r.Between(0, 5)]));
    } else if (pick < 90) {
        rule("params" + HexBytes(r, 2));
    } else if (pick < 95) {
        rule(r.Percent(50) ? std::string("unplug") : "unplug " + std::to_string(r.Between(200, 8000)));
    } else {
        // The loader starts on the first jump and re-enumerates.
        f.vecRules = {"jump reenumerate " + std::to_string(r.Between(200, 4000))};
    }
    return f;
}

void AddOperatorSteps(CRandom& r, Schedule& s)
{
    if (r.Percent(40)) return;
    const int64_t baud = s.nBaudIndex == 1 ? 115200 : 57600;
    const int64_t blockMs = s.bPace ? static_cast<int64_t>(kBlock) * 10 * 1000 / baud : 0;
    const int64_t typical = (UsesModeSwitch(s.nType) ? 11000 : 0) + 2000 + s.nEraseMs +
                            static_cast<int64_t>(s.image.size() / kBlock) * blockMs +
                            static_cast<int64_t>(s.vecFaults.size()) * 2000;
    int type = s.nType;
    int64_t t = 0;
    for (int64_t n = r.Between(1, 4); n > 0; --n) {
        OperatorStep step;
        t += r.Between(0, typical);
        step.nAtMs = t;
        const int64_t pick = r.Between(0, 99);
        if (pick < 30) {
            step.eAction = EOperatorAction::Stop;
        } else if (pick < 62) {
            step.eAction = EOperatorAction::RunAgain;
            step.nAfterEndMs = r.Between(0, 3000);
        } else if (pick < 78) {
            step.eAction = EOperatorAction::ChooseImage;
            step.image = type == DLOAD_COMPARE_EMERGENCY ? CompareVariant(r, s.oldImage, 10) : TypedImage(r, type);
            // Loading a boot image turns the first four types into CHANGE(EMERGENCY).
            if (!IsFontType(type) && type <= DLOAD_FONT_EMERGENCY) type = DLOAD_CHANGE_EMERGENCY;
        } else if (pick < 86) {
            step.eAction = EOperatorAction::Compare;
        } else if (pick < 93) {
            step.eAction = EOperatorAction::Abandon;
        } else {
            step.eAction = EOperatorAction::Close;
            s.vecSteps.push_back(std::move(step));
            return;
        }
        s.vecSteps.push_back(std::move(step));
    }
}

}  // namespace

std::string Hex64(uint64_t value) { return Format("0x%016llx", static_cast<unsigned long long>(value)); }

std::string TypeName(int type)
{
    return type >= 0 && type < kDownloadTypeCount ? std::string(kDownloadTypeNames[static_cast<std::size_t>(type)])
                                                  : "type " + std::to_string(type);
}

Bytes MakeImage(uint64_t seed, std::size_t size, bool boot)
{
    std::mt19937_64 rng(seed);
    Bytes image(size);
    for (std::size_t i = 0; i < size; i += 8) {
        const uint64_t v = rng();
        for (std::size_t k = 0; k < 8 && i + k < size; ++k) image[i + k] = static_cast<uint8_t>(v >> (8 * k));
    }
    if (boot) StampBootHeader(image);
    return image;
}

uint64_t SeriesSeed(uint64_t base, uint64_t index)
{
    // SplitMix64 of the index-th step from the base.
    uint64_t z = base + (index + 1) * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

bool UsesModeSwitch(int type)
{
    return type == DLOAD_NORMAL || type == DLOAD_FONT_NORMAL || type == DLOAD_CHANGE_NORMAL;
}

std::size_t FlashSizeFor(int type) { return IsFontType(type) ? 16u << 20 : 1u << 20; }

std::string FaultRule::Text() const
{
    std::string text;
    for (const auto& rule : vecRules) text += (text.empty() ? "" : " + ") + rule;
    if (bGarbageOwnBurst) text += " (own burst)";
    if (!strEchoTrigger.empty())
        text += (text.empty() ? "" : " + ") + strEchoTrigger + " twice " + std::to_string(nEchoMs);
    return text;
}

Schedule GenerateSchedule(uint64_t seed)
{
    CRandom r(seed);
    Schedule s;
    s.nSeed = seed;
    // Taken from the seed, not drawn, so that the rest of every schedule stays as it was.
    s.bOwnStack = (seed & 1) != 0;
    s.nType = static_cast<int>(r.Between(0, kDownloadTypeCount - 1));
    s.nBaudIndex = static_cast<int>(r.Between(0, 1));
    s.bPace = r.Percent(75);
    s.nEraseMs = r.Percent(50) ? 0u : static_cast<unsigned>(r.Between(1, 4000));
    if (UsesModeSwitch(s.nType)) {
        s.bSwitchReenumerates = r.Percent(30);
        s.nSwitchMs = static_cast<unsigned>(s.bSwitchReenumerates ? r.Between(200, 16000) : r.Between(0, 3000));
    }
    s.bAnswerYes = r.Percent(50);
    s.bFontOk = !IsFontType(s.nType) || r.Percent(90);
    if (s.nType == DLOAD_COMPARE_EMERGENCY) {
        s.oldImage = MakeImage(r.Next(), static_cast<std::size_t>(r.Between(1, 3)) * kCompareBlockSize, true);
        s.image = CompareVariant(r, s.oldImage, 0);
    } else {
        s.image = TypedImage(r, s.nType);
    }
    s.nFlashSize = FlashSizeFor(s.nType);
    for (int64_t n = r.Between(0, 5); n > 0; --n) s.vecFaults.push_back(MakeFault(r, s));
    AddOperatorSteps(r, s);
    return s;
}

std::string Schedule::Describe() const
{
    std::string text = "seed " + Hex64(nSeed) + ": " + TypeName(nType) + ", image of " + std::to_string(image.size()) +
                       " bytes";
    if (!oldImage.empty()) text += " (the handset holds an old one of " + std::to_string(oldImage.size()) + ")";
    text += ", baud index " + std::to_string(nBaudIndex) + (bPace ? ", paced line" : ", unpaced line");
    text += ", erase " + std::to_string(nEraseMs) + " ms";
    if (UsesModeSwitch(nType))
        text += bSwitchReenumerates ? ", the AT command makes it re-enumerate for " + std::to_string(nSwitchMs) + " ms"
                                    : ", download mode " + std::to_string(nSwitchMs) + " ms after the AT command";
    text += bAnswerYes ? ", model-version question answered yes" : ", model-version question answered no";
    if (!bFontOk) text += ", font address dialog cancelled";
    if (bOwnStack) text += ", the engine on a stack of its own";
    text += "\n  faults:";
    if (vecFaults.empty()) text += " none";
    for (const auto& f : vecFaults) text += "\n    " + f.Text();
    text += "\n  operator: Run at 0 ms";
    for (const auto& step : vecSteps) {
        text += "\n    at " + std::to_string(step.nAtMs) + " ms ";
        switch (step.eAction) {
        case EOperatorAction::Stop: text += "Stop"; break;
        case EOperatorAction::Compare: text += "C"; break;
        case EOperatorAction::ChooseImage:
            text += "choose an image of " + std::to_string(step.image.size()) + " bytes";
            break;
        case EOperatorAction::Abandon: text += "abandon the run"; break;
        case EOperatorAction::Close: text += "close the window"; break;
        case EOperatorAction::RunAgain:
            text += "Run again, " + std::to_string(step.nAfterEndMs) + " ms after the run's end";
            break;
        }
    }
    return text;
}

}  // namespace kestrel::test
