#!/usr/bin/env bash
# Checks what a user gets from a release build: `cmake --install` under a user prefix, and
# the Debian package (its file list, lintian, and the packaged kestrel-cli run once).
# Usage: scripts/check-install.sh   (after `cmake --build --preset release`)
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "--- cmake --install under a user prefix"
cmake --install build/release --prefix "$work/prefix" >"$work/install.log" 2>&1
grep -q "sudo install -m 644 $work/prefix/share/kestrel/60-kestrel-handset.rules /etc/udev/rules.d/" "$work/install.log" ||
  { cat "$work/install.log"; echo "the install does not say where the udev rule goes"; exit 1; }
test -f "$work/prefix/share/kestrel/60-kestrel-handset.rules"
test ! -e "$work/prefix/lib/udev"

echo "--- Debian package"
rm -f build/package/kestrel_*.deb
cpack --preset deb >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$(echo build/package/kestrel_*_amd64.deb)
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort >"$work/files"
diff -u - "$work/files" <<'LIST'
./usr/bin/kestrel
./usr/bin/kestrel-cli
./usr/bin/kestrel-handset-sim
./usr/lib/udev/rules.d/60-kestrel-handset.rules
./usr/share/applications/Kestrel.desktop
./usr/share/bash-completion/completions/kestrel-cli
./usr/share/doc/kestrel/changelog.gz
./usr/share/doc/kestrel/copyright
./usr/share/icons/hicolor/scalable/apps/kestrel.svg
./usr/share/man/man1/kestrel-cli.1.gz
./usr/share/man/man1/kestrel-handset-sim.1.gz
./usr/share/man/man1/kestrel.1.gz
LIST
# Warnings are printed; an error fails the check.
lintian_status=0
lintian --fail-on error "$deb" >"$work/lintian" 2>&1 || lintian_status=$?
grep -v "running with root privileges" "$work/lintian" || true
[ "$lintian_status" -eq 0 ] || { echo "lintian reports errors"; exit 1; }
dpkg-deb -x "$deb" "$work/root"
"$work/root/usr/bin/kestrel-cli" --version
"$work/root/usr/bin/kestrel-cli" --help >"$work/help"
grep -q "^Usage: kestrel-cli" "$work/help"
echo "$(basename "$deb"): file list, lintian, --version and --help as expected"
