#!/usr/bin/env bash
# The whole test suite from a fresh clone: installs what is missing, builds libsodium once,
# configures and builds into build/, and runs every test under Wine with one display and
# one wineserver for the run. Extra arguments go to ctest (e.g. -R settings).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KEST_BUILD_DIR:-$root/build}"

"$root/scripts/bootstrap.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$build"
export KEST_WINEPREFIX="$build/wine/prefix"
"$root/scripts/wine-session" ctest --test-dir "$build" --output-on-failure --no-tests=error "$@"
