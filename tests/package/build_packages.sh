# Builds the package twice from the built tree: the current version and a
# newer one for the upgrade.
source "$(dirname "$0")/common.sh"
rm -rf "$PACKAGE_WORK"
mkdir -p "$PACKAGE_WORK"
for v in "$version" "$newer_version"; do
    built=$("$POSTON_SOURCE/package.sh" --build-dir "$POSTON_BUILD" --no-build --version "$v") || exit 1
    mv "$built" "$(package_of "$v")" || exit 1
done
check "both packages are built" test -s "$(package_of "$version")" -a -s "$(package_of "$newer_version")"
finish
