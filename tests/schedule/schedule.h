#pragma once
// One whole download session drawn from a 64-bit seed: the image and the download type, how
// the handset behaves (line pacing, erase time, mode switch), the faults its answers suffer
// and what the operator presses when. The same seed always gives the same schedule.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::test {

using Bytes = std::vector<uint8_t>;

// One fault aimed at one occurrence of a handset event, in the simulator's scenario terms.
struct FaultRule {
    std::vector<std::string> vecRules;  // scenario lines, e.g. "block:3@2 late 200"
    // When set, the answer to this occurrence (a trigger as the scenario writes it) goes out a
    // second time, nEchoMs after the first.
    std::string strEchoTrigger;
    unsigned nEchoMs = 0;
    // The garbage of these rules comes as a burst of its own, not in front of the reply.
    bool bGarbageOwnBurst = false;

    std::string Text() const;
};

// Abandon ends the run whatever its step, as a second Ctrl+C does; Close does so too and ends
// the session.
enum class EOperatorAction { Stop, Compare, ChooseImage, Abandon, Close, RunAgain };

struct OperatorStep {
    EOperatorAction eAction = EOperatorAction::Stop;
    int64_t nAtMs = 0;       // virtual time of the press
    int64_t nAfterEndMs = 0; // RunAgain: the operator waits for the run's end, then this long
    Bytes image;             // ChooseImage: the file chosen
};

struct Schedule {
    uint64_t nSeed = 0;
    int nType = 0;        // the download type the operator selects after loading the image
    int nBaudIndex = 1;
    Bytes image;          // the new image
    Bytes oldImage;       // COMPARE: the image the handset holds, and the one compared with
    std::size_t nFlashSize = 0;
    bool bPace = false;   // the line takes ten bits a byte at its speed
    unsigned nEraseMs = 0;
    unsigned nSwitchMs = 0;            // NORMAL types: from the AT command to download mode
    bool bSwitchReenumerates = false;  // NORMAL types: the handset leaves the bus meanwhile
    bool bAnswerYes = true;            // to the model-version question
    bool bFontOk = true;               // the font address dialog is confirmed
    bool bOwnStack = false;            // the engine works on a stack of its own, as in the station
    std::vector<FaultRule> vecFaults;
    std::vector<OperatorStep> vecSteps;

    std::string Describe() const;
};

Schedule GenerateSchedule(uint64_t seed);

// The seed of the index-th schedule of a series: neighbours share no pattern.
uint64_t SeriesSeed(uint64_t base, uint64_t index);

// An image of random bytes drawn from the seed; a boot image unless it is a font.
Bytes MakeImage(uint64_t seed, std::size_t size, bool boot);

// The NORMAL types start with the handset in normal mode and switch it with the AT command.
bool UsesModeSwitch(int type);

// The flash the handset needs for the type: the fonts go to the view's font address.
std::size_t FlashSizeFor(int type);

std::string TypeName(int type);
std::string Hex64(uint64_t value);

}  // namespace kestrel::test
