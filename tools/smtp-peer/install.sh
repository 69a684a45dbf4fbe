#!/bin/sh
# Installs the pinned smtp-server modules into DIR, which holds copies of
# package.json and package-lock.json; does nothing when they are in place.
# Runs as the setup step of the tests that use the server, so the tests
# themselves never download anything.
set -eu
dir=$1
cd "$dir"
if [ -f node_modules/.installed-lock ] && cmp -s package-lock.json node_modules/.installed-lock; then
    exit 0
fi
if ! command -v npm >/dev/null 2>&1; then
    # Debian's nodejs comes without npm; Node's own packages include it and
    # conflict with Debian's npm, so it is installed only when missing.
    if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
        echo "npm is missing; install it (Debian: apt-get install npm)" >&2
        exit 1
    fi
    echo "Installing Debian's npm"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -qq --no-install-recommends npm >/dev/null ||
        { apt-get update -qq && apt-get install -y -qq --no-install-recommends npm >/dev/null; }
fi
npm ci --prefer-offline --no-audit --no-fund --loglevel=error
cp package-lock.json node_modules/.installed-lock
