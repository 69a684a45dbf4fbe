# The package installed for real: first start under Xvfb, a seeded visit and
# user carried over by the upgrade's migration, the same version again
# changing nothing, removal keeping the data and purge removing it.
source "$(dirname "$0")/common.sh"
[ "$(id -u)" -eq 0 ] || { echo "skipped: installing the package needs root (CI runs as root)"; exit 77; }
if dpkg-query -W -f '${Status}' poston 2>/dev/null | grep -q installed; then
    echo "skipped: a poston package is installed on this machine; it is left alone"
    exit 77
fi

state=/var/lib/poston data=$state/data
master_copy="$data/マスタ ～ poston.mdb"
work=$(mktemp -d)
journal="$work/journal"
trap 'stop_xvfb; dpkg --purge poston >/dev/null 2>&1; rm -rf "$work"' EXIT
mode_of() { stat -c '%a %U:%G' "$1" 2>/dev/null; }

install_package() { # version
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        --allow-downgrades "$(package_of "$1")" >"$work/apt.log" 2>&1 ||
        { cat "$work/apt.log"; return 1; }
}
query() { python3 -c 'import sqlite3, sys
print("\n".join("|".join(map(str, r)) for r in sqlite3.connect(sys.argv[1], isolation_level=None).execute(sys.argv[2])))' "$data/poston.mdb" "$1"; }

# Starts the installed terminal as a kiosk user would until its first screen
# shows and the journal holds $1; with "kiosk-user" as $2, as a user whose
# only group is poston.
run_until_first_screen() {
    local as=()
    [ "${2:-}" = kiosk-user ] && as=(setpriv --reuid=nobody --regid=poston --clear-groups)
    [ -n "$(show_terminal "grep -q '$1' '$journal' 2>/dev/null" env POSTON_JOURNAL_FILE="$journal" \
        QT_QPA_PLATFORM=xcb HOME="$work" "${as[@]}" /usr/bin/poston)" ] ||
        { cat "$work/terminal.log" "$journal"; return 1; }
}

start_xvfb || { echo "Xvfb did not start"; exit 1; }

check "the package installs" install_package "$version"
check "the group poston exists as a system group" bash -c '[ "$(getent group poston | cut -d: -f3)" -lt 1000 ]'
for path in "$state" "$data" "$state/var"; do
    check "$path is 2770 root:poston" test "$(mode_of "$path")" = "2770 root:poston"
done
check "the master file is 660 root:poston" test "$(mode_of "$data/master.mdb")" = "660 root:poston"
check "the simulated reader is chosen" test "$(readlink /opt/poston/lib/felica.so)" = felica-sim.so
check "the base folder reaches the data folder" test "$(readlink -f /opt/poston/data)" = "$data"

check "the installed terminal shows its first screen" run_until_first_screen "^info migration"
check "the first start made the data file, 0660 for the group" test "$(mode_of "$data/poston.mdb")" = "660 root:poston"
check "no master copy waits after it" test ! -e "$master_copy"
check "the journal has the start" grep -qx "info start" "$journal"

query "INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) VALUES ('00000000000000AD', '管理 花子', NULL, 1, 1);" >/dev/null
query "INSERT INTO t_login (user_id, login_date, ret_send) VALUES ('00000000000000AD', '20261207120000000', '2');" >/dev/null
visit=$(query "SELECT login_id FROM t_login")
before=$(md5sum "$data/poston.mdb" "$data/master.mdb")

check "the same version installs again" bash -c "dpkg -i '$(package_of "$version")' >/dev/null"
check "and changes nothing in the data folder" test "$(md5sum "$data/poston.mdb" "$data/master.mdb")" = "$before"
check "and places no master copy" test ! -e "$master_copy"

check "the newer version installs over it" install_package "$newer_version"
check "its master file waits as the master copy" cmp -s /opt/poston/share/master.mdb "$master_copy"
: >"$journal"
chmod 0777 "$work" && chmod 0666 "$journal"
check "the upgraded terminal shows its first screen to a member of the group" \
    run_until_first_screen "^info migration" kiosk-user
check "the migration took the master copy" test ! -e "$master_copy"
check "the migration kept a backup" bash -c "ls '$data'/bk*.mdb >/dev/null"
check "the journal has the migration's outcome" grep -qx "info migration: data carried over into the new master file" "$journal"
check "the user is carried over" test "$(query "SELECT user_name FROM t_user WHERE user_id = '00000000000000AD'")" = "管理 花子"
check "the migrated data file is the group's, 0660" bash -c "stat -c '%a %G' '$data/poston.mdb' | grep -qx '660 poston'"
check "the visit is carried over" test "$(query "SELECT login_id, ret_send FROM t_login")" = "$visit|2"

# What it reports depends on whether a pcscd with a reader runs just then
# (other tests start one): either way it names what it found.
check "poston-reader pcsc switches the installed reader" \
    bash -c "poston-reader pcsc | grep -qE '^PC/SC readers:|pcscd'"
check "to the PC/SC library" test "$(readlink /opt/poston/lib/felica.so)" = felica-pcsc.so

dpkg -r poston >/dev/null 2>&1
check "removal takes the program" test ! -e /opt/poston
check "removal keeps the data" test -s "$data/poston.mdb"
purge_output=$(dpkg --purge poston 2>&1)
check "purge says that it removes the data" grep -q "removing /var/lib/poston" <<<"$purge_output"
check "purge removes the data" test ! -e "$state"
finish
