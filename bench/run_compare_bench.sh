#!/usr/bin/env bash
# Builds the comparison benchmark in the bench preset and runs it: time against cmp over two
# 256 MiB images, and peak memory for 16 MiB against 256 MiB images.
# Usage: bench/run_compare_bench.sh [FOLDER]   (where the images are made; default $TMPDIR or /tmp)
# KESTREL_BENCH_BUILD_DIR moves the build away from build/bench.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KESTREL_BENCH_BUILD_DIR:-build/bench}"
cd "$root"
cmake --preset bench -B "$build" >/dev/null
cmake --build "$build" -j2 --target compare_bench
exec "$build/bench/compare_bench" "$@"
