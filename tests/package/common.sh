# Shared by the package tests: the two packages, checks that count failures,
# a private X display and the terminal shown on it.
set -uo pipefail

: "${POSTON_SOURCE:?}" "${POSTON_BUILD:?}" "${PACKAGE_WORK:?}"
version=$(cat "$POSTON_SOURCE/packaging/version")
newer_version="$version+upgrade1" # the same program, for the upgrade
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
    [ "$failures" -eq 0 ] && { echo "all checks passed"; exit 0; }
    echo "$failures check(s) failed"
    exit 1
}

# Xvfb on a free display, found by Xvfb itself; sets DISPLAY.
xvfb_pid=
start_xvfb() {
    local fifo number
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -nolisten tcp -ac -screen 0 1280x800x24 3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
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
    local tries
    for ((tries = $2; tries > 0; tries--)); do
        eval "$1" && return 0
        sleep 0.1
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

# Runs the terminal ("$@", its output in $work/terminal.log) until its window
# shows and the condition $1 holds (at most 20 s), then ends it; prints the
# window's size then, nothing when it did not show.
show_terminal() {
    local condition=$1 pid
    shift
    "$@" >"$work/terminal.log" 2>&1 &
    pid=$!
    eventually "[ -n \"\$(terminal_window)\" ] && $condition" 200 &&
        sleep 0.3 && terminal_window # the resize to full screen follows the map
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}
