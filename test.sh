#!/usr/bin/env bash
# Installs what is missing, builds the program and the tests (a normal build in
# build/ and an AddressSanitizer + UndefinedBehaviorSanitizer build in
# build-asan/), and runs every test of both with ctest.
set -euo pipefail
cd "$(dirname "$0")"
tools/ensure-packages tools/deps/test.txt

# The code stays as .clang-format lays it out.
find admin app bench data delivery nvktl reader screens server sync tests tools \( -name '*.cpp' -o -name '*.h' \) \
  -print0 | xargs -0 clang-format --dry-run -Werror

jobs=$(nproc)
configure_and_build() { # folder, extra cmake arguments...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}
configure_and_build build -DPOSTON_TESTS=ON
configure_and_build build-asan -DPOSTON_SANITIZE=ON -DPOSTON_TESTS=ON

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for dir in build build-asan; do
  echo "== tests in $dir"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300 || status=1
done
exit $status
