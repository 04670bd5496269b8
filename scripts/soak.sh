#!/usr/bin/env bash
# Long random series that the test suite only samples:
#   1. whole runs in virtual time against the engine and a model handset, from a fresh seed;
#   2. real-time runs of kestrel-cli against kestrel-handset-sim with scenario faults.
# A failure prints its seed and schedule, and the command that replays it.
#
#   scripts/soak.sh [VIRTUAL_COUNT [REALTIME_RUNS]]      defaults: 100000 and 200
set -euo pipefail
cd "$(dirname "$0")/.."
virtual_count="${1:-100000}"
realtime_runs="${2:-200}"

# kestrel-schedule-soak is built only on request; the next plain `cmake --preset release`
# (as in scripts/test.sh) leaves it out again.
cmake --preset release -DKESTREL_BUILD_SOAK=ON >/dev/null
cmake --build --preset release --target kestrel-schedule-soak kestrel-cli kestrel-handset-sim

echo "=== ${virtual_count} schedules in virtual time"
echo "    (replay one with: build/release/tests/schedule/kestrel-schedule-soak --replay SEED)"
build/release/tests/schedule/kestrel-schedule-soak --count "$virtual_count"

echo "=== ${realtime_runs} real-time runs against the simulator"
echo "    (replay one with: scripts/soak-realtime.py --replay SEED)"
scripts/soak-realtime.py --runs "$realtime_runs" --jobs 2 --build build/release
