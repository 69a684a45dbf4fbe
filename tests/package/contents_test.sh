# The package's files, control fields and maintainer scripts, lintian, and
# the reader and kiosk commands run from the unpacked tree.
source "$(dirname "$0")/common.sh"
deb=$(package_of "$version")
listing=$(dpkg-deb -c "$deb" | awk '{ print substr($1, 1, 1) substr($1, 2, 9) " " $6 ($7 ? " " $7 " " $8 : "") }')

# type+mode, path, and for links their target.
expected_entries=(
    "-rwxr-xr-x ./opt/poston/bin/poston"
    "-rwxr-xr-x ./opt/poston/bin/poston-server"
    "-rwxr-xr-x ./opt/poston/bin/poston-card"
    "-rwxr-xr-x ./opt/poston/bin/poston-pcsc-readers"
    "-rwxr-xr-x ./opt/poston/bin/poston-reader"
    "-rwxr-xr-x ./opt/poston/bin/poston-kiosk"
    "-rw-r--r-- ./opt/poston/lib/felica-sim.so"
    "-rw-r--r-- ./opt/poston/lib/felica-pcsc.so"
    "-rw-r--r-- ./opt/poston/share/master.mdb"
    "lrwxrwxrwx ./opt/poston/data -> /var/lib/poston/data"
    "lrwxrwxrwx ./opt/poston/var -> /var/lib/poston/var"
    "lrwxrwxrwx ./usr/bin/poston -> /opt/poston/bin/poston"
    "lrwxrwxrwx ./usr/bin/poston-server -> /opt/poston/bin/poston-server"
    "lrwxrwxrwx ./usr/bin/poston-reader -> /opt/poston/bin/poston-reader"
    "lrwxrwxrwx ./usr/bin/poston-kiosk -> /opt/poston/bin/poston-kiosk"
    "-rw-r--r-- ./usr/share/doc/poston/copyright"
    "-rw-r--r-- ./usr/share/doc/poston/changelog.gz"
    "-rw-r--r-- ./usr/share/lintian/overrides/poston"
)
for entry in "${expected_entries[@]}"; do
    check "package holds $entry" grep -qxF -e "$entry" <<<"$listing"
done
# The data lives outside the package, and the reader choice is made on the machine.
for absent in ./var/ ./opt/poston/lib/felica.so ./opt/poston/data/; do
    check "package holds no $absent" bash -c "! grep -q ' $absent\$' <<<'$listing'"
done
check "every file belongs to root" bash -c "! dpkg-deb -c '$deb' | awk '{ print \$2 }' | grep -v '^root/root\$'"

field() { dpkg-deb -f "$deb" "$1"; }
for pair in "Version $version" "Architecture amd64" "Recommends pcscd, libccid"; do
    read -r name value <<<"$pair"
    check "$name is $value" test "$(field "$name")" = "$value"
done
for dependency in libqt6widgets6 libsqlite3-0 libpq5 libssl3 libc-ares2 libpcsclite1 libc6 fonts-noto-cjk adduser; do
    check "Depends names $dependency" grep -qE "(^|, )$dependency( |,|$)" <<<"$(field Depends)"
done

scripts=$(mktemp -d) unpacked=$(mktemp -d)
trap 'rm -rf "$scripts" "$unpacked"' EXIT
dpkg-deb -e "$deb" "$scripts"
for script in postinst prerm postrm; do
    check "$script is a POSIX shell script with set -e" \
        bash -c "head -1 '$scripts/$script' | grep -qx '#!/bin/sh' && grep -qx 'set -e' '$scripts/$script' && sh -n '$scripts/$script'"
done
# A group made before (a machine that had the package) would hide it from the install test.
check "postinst makes the system group" grep -q "addgroup --system" "$scripts/postinst"

check "lintian reports no errors" lintian --fail-on error "$deb"

# The commands work from wherever the tree is; the reader choice is one link.
dpkg-deb -x "$deb" "$unpacked"
reader="$unpacked/opt/poston/bin/poston-reader"
lib="$unpacked/opt/poston/lib"
check "no reader chosen before postinst" bash -c "'$reader' | grep -qx 'reader: none'"
# choice, link target, a line of what it found (for PC/SC: the readers when a
# pcscd with a reader runs just then, as other tests start one, else pcscd's state)
reader_cases=(
    "sim felica-sim.so simulated reader: lay cards on it"
    "pcsc felica-pcsc.so ^PC/SC readers:|pcscd"
    "sim felica-sim.so simulated reader: lay cards on it"
)
for row in "${reader_cases[@]}"; do
    read -r choice target found <<<"$row"
    check "poston-reader $choice says what it found" bash -c "'$reader' $choice | grep -qE '$found'"
    check "poston-reader $choice links felica.so to $target" test "$(readlink "$lib/felica.so")" = "$target"
    check "poston-reader shows $choice" bash -c "'$reader' | grep -qx 'reader: $choice'"
    check "no temporary link is left" test ! -e "$lib/.felica.so.new" -a ! -L "$lib/.felica.so.new"
done
check "poston-reader refuses an unknown reader" bash -c "! '$reader' other 2>/dev/null"
check "and keeps the choice" test "$(readlink "$lib/felica.so")" = felica-sim.so

kiosk="$unpacked/opt/poston/bin/poston-kiosk"
home="$unpacked/home"
entry="$home/.config/autostart/poston.desktop"
mkdir -p "$home"
HOME=$home "$kiosk" enable >/dev/null 2>&1
check "poston-kiosk enable writes the autostart entry" \
    grep -qx "Exec=$unpacked/opt/poston/bin/poston --kiosk" "$entry"
check "the entry is a desktop application" grep -qx "Type=Application" "$entry"
check "poston-kiosk shows enabled" bash -c "HOME='$home' '$kiosk' | grep -q '^enabled'"
HOME=$home "$kiosk" disable >/dev/null
check "poston-kiosk disable removes it" test ! -e "$entry"
check "poston-kiosk shows disabled" bash -c "HOME='$home' '$kiosk' | grep -qx disabled"
finish
