# poston --kiosk under Xvfb: the first screen fills the display, with and
# without an administrator (registration screen or user confirmation);
# without --kiosk it does not. Then a day at the entrance in kiosk mode: an
# unknown card, two pupils, the administrator's way to the menu and back, and
# 50 touches in a row, each greeted and stored.
source "$(dirname "$0")/common.sh"
which Xvfb xwininfo xdotool sqlite3 >/dev/null ||
    { echo "skipped: Xvfb, xwininfo (x11-utils), xdotool and sqlite3 are needed"; exit 77; }

work=$(mktemp -d)
terminal=
trap '[ -n "$terminal" ] && kill "$terminal" 2>/dev/null; stop_xvfb; rm -rf "$work"' EXIT
start_xvfb || { echo "Xvfb did not start"; exit 1; }
display_size=$(xwininfo -root | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')

# A base folder of its own: the built program, poston-card, the simulated
# reader and a data file, with an administrator and two pupils when $1 is
# "admin".
make_base() {
    local base="$work/$1"
    mkdir -p "$base/bin" "$base/lib" "$base/data" "$base/var"
    cp "$POSTON_BUILD/bin/poston" "$POSTON_BUILD/bin/poston-card" "$base/bin/"
    cp "$POSTON_BUILD/lib/felica.so" "$base/lib/"
    cp "$POSTON_BUILD/data/master.mdb" "$base/data/poston.mdb"
    [ "$1" = admin ] && sqlite3 "$base/data/poston.mdb" \
        "INSERT INTO t_user VALUES ('00000000000000AD', '管理 花子', NULL, 1, 1);
         INSERT INTO t_user VALUES ('0123456789ABCDEF', '山田 太郎', NULL, 2, 2);
         INSERT INTO t_user VALUES ('1111111111111111', '佐藤 次郎', NULL, 2, 3);"
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

# The day: each screen is known by its caption.
base=$(make_base admin)
first="NVKぽすとん ～ ユーザ確認画面" greeting="NVKぽすとん"
screen_is() { xwininfo -root -children 2>/dev/null | grep -qF "\"$1\": (\"poston\" \"poston\")"; }
not() { ! "$@"; }
visits() { sqlite3 "$base/data/poston.mdb" "SELECT COUNT(*) FROM t_login"; }
card() { "$base/bin/poston-card" "$@" >/dev/null; }
# A card laid until its greeting shows with the visit stored, then lifted
# until the first screen is back (the greeting waits about a second).
touch_card() {
    local before
    before=$(visits)
    card put "$1"
    eventually "screen_is '$greeting' && [ \$(visits) -gt $before ]" 100 || return 1
    card remove
    eventually "screen_is '$first'" 50
}
QT_QPA_PLATFORM=xcb POSTON_INSTANCE_NAME="poston-kiosk-test-$$" "$base/bin/poston" --kiosk \
    >"$work/day.log" 2>&1 &
terminal=$!
check "the kiosk starts on the first screen" eventually "screen_is '$first'" 200
card put FEDCBA9876543210
check "an unknown card leaves the first screen and stores nothing" \
    not eventually "! screen_is '$first' || [ \$(visits) != 0 ]" 5
card remove
check "a pupil is greeted and the visit stored, and lifting the card returns" \
    touch_card 0123456789ABCDEF
check "a second pupil too" touch_card 1111111111111111
window=$(xwininfo -root -children | grep -F "\"$first\"" | awk '{ print $1 }')
xdotool windowfocus --sync "$window" key space # "諸設定" has the focus
check "諸設定 asks for the administrator's card" eventually "screen_is '管理者確認画面'" 50
card put 00000000000000AD
check "which opens the menu" eventually "screen_is '管理者用設定メニュー画面'" 50
card remove
window=$(xwininfo -root -children | grep -F '"管理者用設定メニュー画面"' | awk '{ print $1 }')
xdotool windowfocus --sync "$window" key Escape
check "Escape leads from the menu back to the first screen" eventually "screen_is '$first'" 50
touches=0
while [ "$touches" -lt 50 ] && touch_card 0123456789ABCDEF; do touches=$((touches + 1)); done
check "50 touches in a row are greeted and stored ($touches)" test "$touches" -eq 50 -a "$(visits)" -eq 52
finish
