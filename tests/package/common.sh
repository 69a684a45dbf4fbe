# Shared by the package tests: the two packages, checks that count failures,
# and a private X display.
set -uo pipefail

: "${POSTON_SOURCE:?}" "${POSTON_BUILD:?}" "${PACKAGE_WORK:?}"
version=$(cat "$POSTON_SOURCE/packaging/version")
# The upgrade: the same program under a newer version.
newer_version="$version+upgrade1"
package_of() { echo "$PACKAGE_WORK/poston_$1_amd64.deb"; }

failures=0
check() { # description, command...
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}
finish() {
    if [ "$failures" -gt 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "all checks passed"
    exit 0
}
mode_of() { stat -c '%a %U:%G' "$1" 2>/dev/null; }

# Xvfb on a free display, found by Xvfb itself; sets DISPLAY.
xvfb_pid=
start_xvfb() {
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -nolisten tcp -ac -screen 0 1280x800x24 3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    local number
    read -r -t 15 number <"$fifo" || number=
    rm -f "$fifo"
    [ -n "$number" ] || return 1
    export DISPLAY=":$number"
}
stop_xvfb() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
}

# Waits (up to $2 tenths of a second) until command $1 succeeds.
eventually() {
    local tries=$2
    while [ "$tries" -gt 0 ]; do
        eval "$1" && return 0
        sleep 0.1
        tries=$((tries - 1))
    done
    return 1
}

# The geometry "WIDTHxHEIGHT" of the first mapped top-level window of the
# terminal, empty while there is none.
terminal_window() {
    xwininfo -root -children 2>/dev/null | awk '/"poston" "poston"/ { print $1; exit }' |
        while read -r id; do
            xwininfo -id "$id" 2>/dev/null |
                awk '/Map State: IsViewable/ { v = 1 } /Width:/ { w = $2 } /Height:/ { h = $2 }
                     END { if (v) print w "x" h }'
        done
}
