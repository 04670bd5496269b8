#!/usr/bin/env bash
# Sets up a fresh Debian machine, then builds and runs every test: the release build, its
# install and Debian package, the same suite under AddressSanitizer+UndefinedBehaviorSanitizer
# and under ThreadSanitizer, and a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${KESTREL_SKIP_SETUP:-0}" != "1" ]; then
  scripts/setup.sh
fi

run_suite() {
  local preset=$1
  echo "=== ${preset}: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== ${preset}: tests"
  ctest --preset "$preset"
}

run_suite release
echo "=== release: install and package"
scripts/check-install.sh
run_suite asan
run_suite tsan

echo "=== fuzz targets (20 s each)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in $(find build/fuzz/fuzz -mindepth 2 -maxdepth 2 -type f -perm -u+x -name '*fuzz*' | sort); do
  corpus=$(mktemp -d)
  # A crash file is written into a folder of its own, never into the work tree.
  crashes=$(mktemp -d)
  # Inputs that once found a fault are replayed first.
  seeds="fuzz/$(basename "$(dirname "$target")")/seeds"
  if [ -d "$seeds" ]; then find "$seeds" -maxdepth 1 -type f -exec cp {} "$corpus"/ \;; fi
  echo "--- $(basename "$target")"
  if ! "$target" -max_total_time=20 -print_final_stats=0 -artifact_prefix="$crashes/" "$corpus" >"$crashes/report.txt" 2>&1; then
    cat "$crashes/report.txt"
    echo "$(basename "$target") found a fault; its input is kept in $crashes"
    exit 1
  fi
  tail -n 1 "$crashes/report.txt"
  rm -rf "$corpus" "$crashes"
done
echo "=== all tests passed"
