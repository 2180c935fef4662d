#!/usr/bin/env bash
# The demo from a fresh clone: installs what is missing, builds, publishes a small sample
# game (V1 and V2) with kest-publish and the demo key, serves it on 127.0.0.1:18480 (the
# development patch server), and runs the real launcher.exe under Wine from an empty
# install folder in build/demo-run/Kest/: it installs the game, and Play starts it.
# With a display (DISPLAY set) the window opens there; close it to end the demo.
# Without one, it runs on a private Xvfb display, saves a screenshot of the installed
# launcher to build/demo-run/launcher.png, and stops.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KEST_BUILD_DIR:-$root/build}"
demo="$build/demo-run"
export KEST_WINEPREFIX="$build/wine/prefix"

if [ "${1:-}" = "--in-session" ]; then
  if [ "$2" = headless ]; then
    "$root/scripts/winerun" "$demo/Kest/launcher.exe" &
    pid=$!
    for _ in $(seq 1 60); do
      [ -f "$demo/Kest/launcher.hashcache" ] && break
      sleep 0.5
    done
    sleep 2
    shot() {
      xwd -root -silent > "$demo/screen.xwd"
      convert xwd:"$demo/screen.xwd" -crop "$1" +repage "$2"
      rm -f "$demo/screen.xwd"
    }
    shot 648x328+0+0 "$demo/launcher.png"
    echo "demo: the launcher installed the sample game into $demo/Kest"
    echo "demo: screenshot saved to $demo/launcher.png"
    # Press PLAY, as a player would: the launcher starts the game client and quits.
    xdotool mousemove 543 237 click 1
    for _ in $(seq 1 40); do
      [ -f "$demo/Kest/kest-game-result.txt" ] && break
      sleep 0.5
    done
    sleep 2
    shot 800x500+0+0 "$demo/game.png"
    echo "demo: PLAY started the game client: $(cut -d' ' -f1- "$demo/Kest/kest-game-result.txt" 2>/dev/null || echo 'no answer')"
    echo "demo: screenshot saved to $demo/game.png"
    kill "$pid" 2>/dev/null || true
  else
    echo "demo: starting the launcher; it installs the game, then press PLAY (close the window to end)"
    "$root/scripts/winerun" "$demo/Kest/launcher.exe" || true
  fi
  exit 0
fi

"$root/scripts/bootstrap.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$build"

# A small sample game: the stand-in game client and some data, for both clients.
rm -rf "$demo"
mkdir -p "$demo/sample/v1/data" "$demo/sample/v2/Data" "$demo/Kest"
cp "$build/bin/kest_demo_game.exe" "$demo/sample/v1/kest.exe"
cp "$build/bin/kest_demo_game.exe" "$demo/sample/v2/Kest.exe"
head -c 3000000 /dev/urandom > "$demo/sample/v1/data/world.pak"
head -c 1500000 /dev/urandom > "$demo/sample/v1/data/music.pak"
echo "Kest demo release" > "$demo/sample/v1/readme.txt"
head -c 800000 /dev/urandom > "$demo/sample/v2/Data/level1.bin"
"$build/tools/kest-publish" publish "$root/config/demo-keys/demo-ed25519.secret" "$demo/server" \
  "$demo/sample/v1" "$demo/sample/v2" demo-alpha-1
echo '{"maintenance": false, "v2Alpha": true}' > "$demo/server/status.json"
cp "$build/bin/launcher.exe" "$demo/Kest/launcher.exe"

# Any static HTTP server will do; this is Python's.
python3 -m http.server 18480 --bind 127.0.0.1 --directory "$demo/server" >"$demo/server.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do
  python3 -c 'import socket; socket.create_connection(("127.0.0.1", 18480), 0.2)' 2>/dev/null && break
  sleep 0.1
done

mode=windowed
[ -n "${DISPLAY:-}" ] || mode=headless
"$root/scripts/wine-session" "$0" --in-session "$mode"
