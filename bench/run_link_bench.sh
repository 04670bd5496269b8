#!/usr/bin/env bash
# Builds kestrel-cli, the simulator and the link benchmark in the bench preset and runs it.
# It takes about two minutes: one 4 MiB download, one paced 256 KiB download, one 60 s erase.
# KESTREL_BENCH_BUILD_DIR moves the build away from build/bench.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KESTREL_BENCH_BUILD_DIR:-build/bench}"
cd "$root"
cmake --preset bench -B "$build" >/dev/null
cmake --build "$build" -j2 --target link_bench
exec "$build/bench/link_bench"
