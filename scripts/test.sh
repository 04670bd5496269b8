#!/usr/bin/env bash
# Sets up a fresh Debian machine, then builds and runs every test: the release build, its
# install and Debian package, the same suite under AddressSanitizer+UndefinedBehaviorSanitizer
# and under ThreadSanitizer, and a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${KESTREL_SKIP_SETUP:-0}" != "1" ]; then
  scripts/setup.sh
fi

# The builds compile through ccache when it is installed (see CMakeLists.txt). Its cache is
# CCACHE_DIR when set, else ccache's default (~/.cache/ccache): the folder for CI to keep.
# Its counters are read before and after, so the summary at the end is this run's alone.
ccache_counts() {
  command -v ccache >/dev/null || return 0
  ccache --print-stats | awk '$1 == "direct_cache_hit" || $1 == "preprocessed_cache_hit" { hits += $2 }
    $1 == "cache_miss" { misses = $2 } END { print hits + 0, misses + 0 }'
}
read -r hits_before misses_before <<<"$(ccache_counts)"
# Unless the user chose a size, the cache is held to 2 GB, room for several runs of all four
# builds, so that a folder CI keeps stays small.
if command -v ccache >/dev/null && ccache --show-config | grep -q '^(default) max_size '; then
  export CCACHE_MAXSIZE=2G
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
# The fuzz build preset builds the fuzz targets and what they link, none of the programs.
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
if command -v ccache >/dev/null; then
  read -r hits misses <<<"$(ccache_counts)"
  hits=$((hits - hits_before)) misses=$((misses - misses_before))
  echo "ccache: $hits of $((hits + misses)) compilations were cache hits; cache $(ccache -k cache_dir)"
  ccache -s | grep -i "cache size" || true
fi
