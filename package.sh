#!/usr/bin/env bash
# Builds the Debian package of the terminal, build/poston_<version>_amd64.deb.
#
#   ./package.sh [--build-dir DIR] [--version VERSION] [--no-build]
#
# --build-dir  the CMake build folder to build in and put the package in
#              (default: build/, configured when missing)
# --version    the package version (default: packaging/version)
# --no-build   package what DIR already holds
#
# What goes where: /opt/poston/bin (the programs), /opt/poston/lib (both
# reader libraries; the link felica.so chooses one), /opt/poston/share (the
# master file); /opt/poston/data and /opt/poston/var are links to the folders
# of the same names in /var/lib/poston, which the group poston owns.
set -euo pipefail
cd "$(dirname "$0")"
source_dir=$(pwd)

build_dir=build
version=$(cat packaging/version)
build=yes
while [ $# -gt 0 ]; do
    case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --version) version=$2; shift 2 ;;
    --no-build) build=no; shift ;;
    *) echo "usage: $0 [--build-dir DIR] [--version VERSION] [--no-build]" >&2; exit 2 ;;
    esac
done
build_dir=$(realpath -m "$build_dir")

programs=(poston poston-server poston-card poston-pcsc-readers)
targets=("${programs[@]}" felica_sim felica_pcsc poston_master)
if [ "$build" = yes ]; then
    [ -f "$build_dir/CMakeCache.txt" ] ||
        cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build_dir" -j2 --target "${targets[@]}"
fi

stage="$build_dir/package/poston_$version"
rm -rf "$stage"
opt="$stage/opt/poston"
doc="$stage/usr/share/doc/poston"
mkdir -p "$opt/bin" "$opt/lib" "$opt/share" "$stage/usr/bin" "$doc" \
    "$stage/usr/share/lintian/overrides" "$stage/DEBIAN"

for program in "${programs[@]}"; do
    install -m 0755 "$build_dir/bin/$program" "$opt/bin/$program"
done
install -m 0644 "$build_dir/lib/felica.so" "$opt/lib/felica-sim.so"
install -m 0644 "$build_dir/lib/felica-pcsc.so" "$opt/lib/felica-pcsc.so"
strip --strip-unneeded --remove-section=.comment --remove-section=.note \
    "$opt/bin/"poston* "$opt/lib/"*.so
install -m 0755 packaging/poston-reader packaging/poston-kiosk "$opt/bin/"
install -m 0644 "$build_dir/data/master.mdb" "$opt/share/master.mdb"
ln -s /var/lib/poston/data "$opt/data"
ln -s /var/lib/poston/var "$opt/var"
for program in poston poston-server poston-card poston-reader poston-kiosk; do
    ln -s "/opt/poston/bin/$program" "$stage/usr/bin/$program"
done

install -m 0644 packaging/copyright "$doc/copyright"
install -m 0644 packaging/lintian-overrides "$stage/usr/share/lintian/overrides/poston"
date=$(date -R -d "@${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}")
printf 'poston (%s) stable; urgency=medium\n\n  * Release %s.\n\n -- ぽすとん developers <poston@example.org>  %s\n' \
    "$version" "$version" "$date" | gzip -9n >"$doc/changelog.gz"
chmod 0644 "$doc/changelog.gz"

# Library dependencies as dpkg-shlibdeps finds them, plus what is loaded or
# run rather than linked.
shlibs_dir=$(mktemp -d)
trap 'rm -rf "$shlibs_dir"' EXIT
mkdir "$shlibs_dir/debian"
printf 'Source: poston\n\nPackage: poston\nArchitecture: amd64\n' >"$shlibs_dir/debian/control"
depends=$(cd "$shlibs_dir" && dpkg-shlibdeps -O "${programs[@]/#/-e$opt/bin/}" \
    "-e$opt/lib/felica-sim.so" "-e$opt/lib/felica-pcsc.so" 2>/dev/null |
    sed -n 's/^shlibs:Depends=//p')
depends="$depends, fonts-noto-cjk, adduser"

for script in postinst prerm postrm; do
    sed "s/@VERSION@/$version/g" "packaging/$script" >"$stage/DEBIAN/$script"
    chmod 0755 "$stage/DEBIAN/$script"
done
size=$(du -sk --exclude=DEBIAN "$stage" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@SIZE@/$size/" -e "s/@DEPENDS@/$depends/" \
    packaging/control >"$stage/DEBIAN/control"
(cd "$stage" && find opt usr -type f -print0 | sort -z | xargs -0 md5sum) >"$stage/DEBIAN/md5sums"
chmod 0644 "$stage/DEBIAN/md5sums" "$stage/DEBIAN/control"

package="$build_dir/poston_${version}_amd64.deb"
dpkg-deb --root-owner-group -Zxz --build "$stage" "$package" >/dev/null
echo "$package"
