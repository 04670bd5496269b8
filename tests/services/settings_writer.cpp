// Helper of the settings tests: another instance of the program writing to the same store.
// Usage: settings_writer PREFIX COUNT  (writes PREFIX0 .. PREFIX<COUNT-1>, value = index)

#include <cstdlib>
#include <string>

#include "services/settings_store.h"

int main(int argc, char** argv)
{
    if (argc != 3) return 2;
    const std::string prefix = argv[1];
    const int count = std::atoi(argv[2]);
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        if (!kestrel::WriteNumber(prefix + std::to_string(i), i)) ++failures;
    }
    return failures == 0 ? 0 : 1;
}
