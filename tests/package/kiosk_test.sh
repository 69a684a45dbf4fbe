# The built terminal under Xvfb: a window without --kiosk; with it, a day on screens (known by
# caption) that fill the display: an unknown card, two pupils, the administrator's way to
# the menu and back, then 50 touches in a row, each greeted and stored.
source "$(dirname "$0")/common.sh"
which Xvfb xwininfo xdotool sqlite3 >/dev/null ||
    { echo "skipped: Xvfb, xwininfo (x11-utils), xdotool and sqlite3 are needed"; exit 77; }

work=$(mktemp -d) terminal=
trap '[ -n "$terminal" ] && kill "$terminal"; stop_xvfb; rm -rf "$work"' EXIT
start_xvfb || { echo "Xvfb did not start"; exit 1; }
display_size=$(xwininfo -root | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
base="$work/base"
mkdir -p "$base/bin" "$base/lib" "$base/data" "$base/var"
cp "$POSTON_BUILD/bin/poston" "$POSTON_BUILD/bin/poston-card" "$base/bin/"
cp "$POSTON_BUILD/lib/felica.so" "$base/lib/" && cp "$POSTON_BUILD/data/master.mdb" "$base/data/poston.mdb"
sqlite3 "$base/data/poston.mdb" "INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) VALUES ('00000000000000AD', '管理', NULL, 1, 1),
    ('0123456789ABCDEF', '山田 太郎', NULL, 2, 2), ('1111111111111111', '佐藤 次郎', NULL, 2, 3);"
size=$(show_terminal true env QT_QPA_PLATFORM=xcb "$base/bin/poston")
check "without --kiosk the first screen is a window ($size)" test -n "$size" -a "$size" != "$display_size"

first="NVKぽすとん ～ ユーザ確認画面" greeting="NVKぽすとん" menu="管理者用設定メニュー画面"
window() { xwininfo -root -children 2>/dev/null | grep -F "\"$1\": (\"poston\" \"poston\")"; }
visits() { sqlite3 -cmd ".timeout 5000" "$base/data/poston.mdb" "SELECT COUNT(*) FROM t_login"; }
card() { "$base/bin/poston-card" "$@" >/dev/null; }
key() { xdotool windowfocus --sync "$(window "$1" | awk '{ print $1 }')" key "$2"; }
not() { ! "$@"; }
# Laid until greeted and stored, lifted until the first screen is back (about a second).
touch_card() {
    local before
    before=$(visits)
    card put "$1"
    eventually "window '$greeting' >/dev/null && [ \$(visits) -gt $before ]" 100 &&
        card remove && eventually "window '$first' >/dev/null" 50
}
QT_QPA_PLATFORM=xcb POSTON_INSTANCE_NAME="poston-kiosk-$$" "$base/bin/poston" --kiosk >"$work/log" 2>&1 &
terminal=$!
check "the kiosk starts on the first screen, filling the display" \
    eventually "window '$first' | grep -qF ' ${display_size}+0+0 '" 200
card put FEDCBA9876543210
check "an unknown card stores nothing and stays on the first screen" \
    not eventually "! window '$first' >/dev/null || [ \$(visits) != 0 ]" 5
card remove
check "a pupil is greeted, the visit stored, and lifting returns" touch_card 0123456789ABCDEF
check "a second pupil too" touch_card 1111111111111111
key "$first" space # "諸設定" has the focus
card put 00000000000000AD
check "諸設定 and the administrator's card open the menu" eventually "window '$menu' >/dev/null" 50
card remove
key "$menu" Escape
check "Escape leads back to the first screen" eventually "window '$first' >/dev/null" 50
touches=0
while [ "$touches" -lt 50 ] && touch_card 0123456789ABCDEF; do touches=$((touches + 1)); done
check "50 touches in a row are greeted and stored ($touches)" test "$touches" -eq 50 -a "$(visits)" -eq 52
finish
