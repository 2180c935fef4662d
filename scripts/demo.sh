#!/usr/bin/env bash
# The demo from a fresh clone: installs what is missing, builds, and runs the real
# launcher.exe under Wine from an install folder in build/demo/.
# With a display (DISPLAY set) the window opens there and the demo ends when you close it.
# Without one, it runs on a private Xvfb display, saves a screenshot to
# build/demo/launcher.png after a few seconds, and stops.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KEST_BUILD_DIR:-$root/build}"
export KEST_WINEPREFIX="$build/wine/prefix"

if [ "${1:-}" = "--in-session" ]; then
  demo="$build/demo"
  mkdir -p "$demo/Kest"
  cp "$build/bin/launcher.exe" "$demo/Kest/launcher.exe"
  if [ "$2" = headless ]; then
    "$root/scripts/winerun" "$demo/Kest/launcher.exe" &
    pid=$!
    sleep 8
    xwd -root -silent > "$demo/screen.xwd"
    convert xwd:"$demo/screen.xwd" -crop 648x328+0+0 +repage "$demo/launcher.png"
    rm -f "$demo/screen.xwd"
    echo "demo: screenshot saved to $demo/launcher.png"
    kill "$pid" 2>/dev/null || true
  else
    echo "demo: starting the launcher; close its window to end the demo"
    "$root/scripts/winerun" "$demo/Kest/launcher.exe" || true
  fi
  exit 0
fi

"$root/scripts/bootstrap.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$build"
mode=windowed
[ -n "${DISPLAY:-}" ] || mode=headless
exec "$root/scripts/wine-session" "$0" --in-session "$mode"
