#!/usr/bin/env bash
# Builds kestrel-cli, the simulator and the station benchmark in the bench preset and runs it:
# eight handsets at once against one alone, unpaced (2 MiB each) and paced at 115200 bit/s
# (128 KiB each). About two minutes. KESTREL_BENCH_BUILD_DIR moves the build away from build/bench.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KESTREL_BENCH_BUILD_DIR:-build/bench}"
cd "$root"
cmake --preset bench -B "$build" >/dev/null
cmake --build "$build" -j2 --target station_bench
exec "$build/bench/station_bench"
