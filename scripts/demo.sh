#!/usr/bin/env bash
# The program's main job on a fresh Debian machine: set up, build, make a sample boot image,
# start the handset simulator as COM3, then open the window ready to flash it. Without a
# display the same download runs through kestrel-cli and its log is printed.
# Everything lives in one demo folder with its own settings; the user's settings stay untouched.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "${KESTREL_SKIP_SETUP:-0}" != "1" ]; then
  scripts/setup.sh
fi
cmake --preset release >/dev/null
cmake --build --preset release --target kestrel-cli kestrel-handset-sim $( [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && echo kestrel )

demo=${KESTREL_DEMO_DIR:-${TMPDIR:-/tmp}/kestrel-demo}
# Only a folder this script made (it holds the marker) is emptied; a folder named by
# mistake, the home folder for one, is left alone.
marker="$demo/.kestrel-demo"
if [ -f "$marker" ]; then
  rm -rf "$demo"
elif [ -e "$demo" ] && [ -n "$(ls -A "$demo" 2>/dev/null)" ]; then
  echo "$demo exists and was not made by this script; set KESTREL_DEMO_DIR to a new folder." >&2
  exit 1
fi
mkdir -p "$demo/config/NORVALE"
touch "$marker"
export XDG_CONFIG_HOME="$demo/config"
export XDG_DATA_HOME="$demo/data"  # the demo's runs stay out of the user's journal
python3 scripts/make_sample_image.py "$demo/PHONE.bin" 256
printf '[General]\nPORT=3\nBAUD=1\nBIN_PATH=%s/\n' "$demo" > "$demo/config/NORVALE/TIDEWELL.ini"

# The simulator's slave appears as COM3 through the COM map.
export KESTREL_COM3="$demo/handset"
build/release/sim/kestrel-handset-sim --mode download --link "$KESTREL_COM3" \
  --flash-out "$demo/flash.bin" --transcript "$demo/transcript.jsonl" --idle-exit 900 > "$demo/sim.out" &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$KESTREL_COM3" ] && break; sleep 0.1; done

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/release/app/kestrel ]; then
  echo "Kestrel is open with the simulated handset on COM3."
  echo "Press Open, choose $demo/PHONE.bin, then Run."
  build/release/app/kestrel
else
  echo "No display: flashing $demo/PHONE.bin into the simulated handset with kestrel-cli."
  build/release/cli/kestrel-cli --port 3 flash "$demo/PHONE.bin" --type NORMAL
fi

kill -TERM $sim 2>/dev/null || true
wait $sim 2>/dev/null || true
trap - EXIT
if cmp -s -n "$(stat -c %s "$demo/PHONE.bin")" "$demo/PHONE.bin" "$demo/flash.bin"; then
  echo "The simulated handset now holds PHONE.bin byte for byte."
else
  echo "The simulated handset does not hold the whole image (see $demo/transcript.jsonl)."
fi
