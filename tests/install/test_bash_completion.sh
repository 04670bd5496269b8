#!/usr/bin/env bash
# The bash completion of kestrel-cli, as bash-completion runs it: each case is a command
# line ending where Tab is pressed, and the candidates offered, sorted.
# Usage: test_bash_completion.sh COMPLETION_FILE
set -uo pipefail
source /usr/share/bash-completion/bash_completion
source "$1"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && touch PHONE.bin OLD.BIN notes.txt && mkdir images
# Settings that name two slots (and one empty), away from the files offered as images.
settings=$(mktemp -d)
trap 'rm -rf "$work" "$settings"' EXIT
mkdir "$settings/NORVALE"
printf '[General]\nSLOT1=usb:pci-0000:00:14.0-usb-0:3:1.0\nSLOT1_LABEL=Hub A\nSLOT12=COM5\nSLOT3=\n' \
    >"$settings/NORVALE/TIDEWELL.ini"
export XDG_CONFIG_HOME=$settings

failures=0
check() {
    local line=$1 expected=$2
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=()
    _kestrel_cli kestrel-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
    if [[ ${got% } != "$expected" ]]; then
        echo "FAIL: '$line' offered '${got% }', expected '$expected'"
        failures=$((failures + 1))
    fi
}

check 'kestrel-cli ' 'compare flash history info journal ports request station todm'
check 'kestrel-cli st' 'station'
check 'kestrel-cli --' '--baud --help --journal-url --json --port --version'
check 'kestrel-cli --baud ' '115200 57600'
check 'kestrel-cli --port COM1' 'COM1 COM10 COM11 COM12 COM13 COM14 COM15 COM16 COM17 COM18 COM19'
check 'kestrel-cli flash PHONE.bin --port SL' 'SLOT1 SLOT12'
check 'kestrel-cli --port 3 --baud 57600 fl' 'flash'
check 'kestrel-cli flash ' 'OLD.BIN PHONE.bin images'
check 'kestrel-cli --json flash PHONE.bin --' '--baud --font-address --help --json --old --on-unit --port --type --yes'
check 'kestrel-cli station PHONE.bin --on-unit ' ''
check 'kestrel-cli station PHONE.bin --c' '--count'
check 'kestrel-cli flash PHONE.bin --type CH' 'CHANGE\(EMERGENCY\) CHANGE\(NORMAL\)'
check 'kestrel-cli flash PHONE.bin --type FONT\(E' 'FONT\(EMRGENCY\)'
check 'kestrel-cli flash PHONE.bin --old ' 'OLD.BIN PHONE.bin images'
check 'kestrel-cli info ' 'OLD.BIN PHONE.bin images'
check 'kestrel-cli compare PHONE.bin ' 'OLD.BIN PHONE.bin images'
check 'kestrel-cli request ' 'erase jump start'
check 'kestrel-cli request erase ' ''
check 'kestrel-cli todm ' ''
check 'kestrel-cli ports ' ''
check 'kestrel-cli ports --' '--baud --help --json --port'
check 'kestrel-cli p' 'ports'
touch runs.csv
check 'kestrel-cli h' 'history'
check 'kestrel-cli history ' 'show'
check 'kestrel-cli history --' '--csv --fleet --help --json --limit --outcome --port --since --station'
check 'kestrel-cli --json history --limit 5 --' '--csv --fleet --help --json --limit --outcome --port --since --station'
check 'kestrel-cli journal ' 'status'
check 'kestrel-cli --journal-url postgresql:///k history --fleet --station ' ''
check 'kestrel-cli history --outcome n' 'no-response nothing-to-do'
check 'kestrel-cli history --csv ' 'images runs.csv'
check 'kestrel-cli history --since ' ''
check 'kestrel-cli history --limit 5 ' ''
check 'kestrel-cli history show ' ''
check 'kestrel-cli history show 3 --' '--help --json'

if ((failures > 0)); then
    echo "$failures completion case(s) failed"
    exit 1
fi
echo "every completion case passed"
