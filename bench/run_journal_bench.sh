#!/usr/bin/env bash
# Builds the journal benchmark in the bench preset and runs it: the SHA-256 of a 64 MiB image,
# and what the journal costs the front end's thread at an image load and a run's start and end.
# Usage: bench/run_journal_bench.sh [FOLDER]   (where the image is made; default $TMPDIR or /tmp)
# KESTREL_BENCH_BUILD_DIR moves the build away from build/bench.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KESTREL_BENCH_BUILD_DIR:-build/bench}"
cd "$root"
cmake --preset bench -B "$build" >/dev/null
cmake --build "$build" -j2 --target journal_bench
exec "$build/bench/journal_bench" "$@"
