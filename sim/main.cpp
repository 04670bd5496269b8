// kestrel-handset-sim: a handset on the far side of a pseudo-terminal, for tests and demos.

#include <sys/signalfd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "kestrel_version.h"
#include "scenario.h"
#include "sim_options.h"
#include "simulator.h"
#include "transcript.h"

namespace {

constexpr int kExitUsage = 2;

int UsageError(const std::string& what)
{
    std::fprintf(stderr, "kestrel-handset-sim: %s\n%s", what.c_str(), kestrel::sim::kSimUsage);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace kestrel::sim;
    std::string error;
    const auto options = ParseSimOptions({argv + 1, argv + argc}, error);
    if (!options) return UsageError(error);
    if (options->bHelp) {
        std::fputs(kSimUsage, stdout);
        return 0;
    }
    if (options->bVersion) {
        std::puts("kestrel-handset-sim " KESTREL_VERSION_TEXT);
        return 0;
    }

    CScenario scenario;
    if (!options->strScenario.empty()) {
        std::ifstream in(options->strScenario);
        if (!in) return UsageError("cannot read the scenario " + options->strScenario + ": " + std::strerror(errno));
        std::stringstream text;
        text << in.rdbuf();
        auto parsed = CScenario::Parse(text.str(), error);
        if (!parsed) return UsageError(options->strScenario + ": " + error);
        scenario = std::move(*parsed);
    }
    CTranscript transcript;
    if (!options->strTranscript.empty() && !transcript.Open(options->strTranscript, error)) return UsageError(error);

    // Termination requests arrive through a descriptor, so they end the wait for input.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::fprintf(stderr, "kestrel-handset-sim: signalfd: %s\n", std::strerror(errno));
        return 1;
    }
    CSimulator simulator(*options, std::move(scenario), transcript, signalFd, stdout);
    return simulator.Run();
}
