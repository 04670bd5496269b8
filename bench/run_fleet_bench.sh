#!/usr/bin/env bash
# Builds the fleet journal benchmark in the bench preset and runs it against a throwaway
# PostgreSQL server: forwarding 10,000 runs, and eight handsets flashed with the server down and up.
# KESTREL_BENCH_BUILD_DIR moves the build away from build/bench.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KESTREL_BENCH_BUILD_DIR:-build/bench}"
cd "$root"
cmake --preset bench -B "$build" >/dev/null
cmake --build "$build" -j2 --target fleet_bench
exec "$build/bench/fleet_bench"
