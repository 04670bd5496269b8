#!/usr/bin/env bash
# Each manual page renders without a warning from groff or man.
# Usage: test_man_pages.sh PAGE...
set -uo pipefail
status=0
for page in "$@"; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    if [[ -n $warnings ]]; then
        echo "FAIL: $page"
        echo "$warnings"
        status=1
    fi
    # A page names its program and has the sections a reader looks for.
    text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null)
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'SEE ALSO'; do
        grep -qx "$section" <<<"$text" || { echo "FAIL: $page has no $section section"; status=1; }
    done
done
((status == 0)) && echo "every manual page renders cleanly"
exit $status
