// Linked into every test program: before any test runs, the settings and the journal point into
// the build tree, so that no test reads or writes the user's own.

#include <cstdlib>

namespace {

[[maybe_unused]] const bool g_bIsolated = [] {
    setenv("XDG_CONFIG_HOME", KESTREL_TEST_CONFIG_HOME, 1);
    setenv("XDG_DATA_HOME", KESTREL_TEST_DATA_HOME, 1);
    return true;
}();

}  // namespace
