#pragma once
// Command line of kestrel-handset-sim.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::sim {

struct SSimOptions {
    std::string strLink;         // --link: symlink to the slave
    std::string strSlotLink;     // --slot-link: symlink to the current slave, kept while off the bus
    bool bDownloadMode = false;  // --mode download
    std::string strFlashOut;     // --flash-out
    std::string strTranscript;   // --transcript
    std::string strScenario;     // --scenario
    bool bPace = false;          // --pace
    unsigned nEraseMs = 0;       // --erase-ms
    std::optional<double> optIdleExitS;  // --idle-exit
    std::size_t nFlashSize = 16u << 20;  // --flash-size
    unsigned nSwitchMs = 0;      // --switch-ms: from the AT command to download mode
    bool bReenumerate = false;   // --reenumerate: the mode switch drops and recreates the pty
    bool bHelp = false;
    bool bVersion = false;
};

// Parses the arguments after the program name; on an error returns nullopt and says why.
std::optional<SSimOptions> ParseSimOptions(const std::vector<std::string>& args, std::string& error);

extern const char kSimUsage[];

}  // namespace kestrel::sim
