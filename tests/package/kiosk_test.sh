# poston --kiosk under Xvfb: the first screen fills the display, with and
# without an administrator (registration screen or user confirmation);
# without --kiosk it does not.
source "$(dirname "$0")/common.sh"
which Xvfb xwininfo >/dev/null || { echo "skipped: Xvfb and xwininfo (x11-utils) are needed"; exit 77; }

work=$(mktemp -d)
trap 'stop_xvfb; rm -rf "$work"' EXIT
start_xvfb || { echo "Xvfb did not start"; exit 1; }
display_size=$(xwininfo -root | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')

# A base folder of its own: the built program, the simulated reader and a
# data file, with an administrator when $1 is "admin".
make_base() {
    local base="$work/$1"
    mkdir -p "$base/bin" "$base/lib" "$base/data" "$base/var"
    cp "$POSTON_BUILD/bin/poston" "$base/bin/"
    cp "$POSTON_BUILD/lib/felica.so" "$base/lib/"
    cp "$POSTON_BUILD/data/master.mdb" "$base/data/poston.mdb"
    [ "$1" = admin ] && python3 -c 'import sqlite3, sys
sqlite3.connect(sys.argv[1], isolation_level=None).execute(
    "INSERT INTO t_user VALUES (?, ?, NULL, 1, 1)", ("00000000000000AD", "管理 花子"))' "$base/data/poston.mdb"
    echo "$base"
}

# data, arguments, whether the first screen must fill the display
cases=(
    "admin --kiosk yes"
    "none --kiosk yes"
    "admin - no"
)
for row in "${cases[@]}"; do
    read -r who arguments full <<<"$row"
    [ "$arguments" = - ] && arguments=
    base=$(make_base "$who-${arguments:-plain}")
    # shellcheck disable=SC2086
    size=$(show_terminal true env QT_QPA_PLATFORM=xcb "$base/bin/poston" $arguments)
    fills=no
    [ "$size" = "$display_size" ] && fills=yes
    check "with $who administrator, poston ${arguments:-alone} shows a window ($size), filling the display: $full" \
        test -n "$size" -a "$fills" = "$full"
done
finish
