#!/usr/bin/env bash
# Prints the patch engine's speed and memory figures beside native baselines on this
# machine, in one run. Figures only: nothing here passes or fails on time.
#   scripts/bench.sh            all of it (needs about 3 GiB of free disk in build/bench)
#   scripts/bench.sh md5|diff|install
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KEST_BUILD_DIR:-$root/build}"
bench="$build/bench-data"
export KEST_WINEPREFIX="$build/wine/prefix"
what="${1:-all}"

if [ "$what" != "--in-session" ]; then
  "$root/scripts/bootstrap.sh"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
  cmake --build "$build" >/dev/null
  exec "$root/scripts/wine-session" "$0" --in-session "$what"
fi
what="$2"
mkdir -p "$bench"
kb() { "$root/scripts/winerun" "$build/bin/kest_bench.exe" "$@" | tr -d '\r'; }
winpath() { echo "Z:${1//\//\\}"; }
now() { date +%s.%N; }
ratio() { python3 -c "print(f'{$1/$2:.2f}')"; }
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p"; }
server=
trap '[ -z "$server" ] || kill $server 2>/dev/null || true' EXIT
# Serves a folder on the development patch server's address with Python's static server.
serve() {
  [ -z "$server" ] || { kill $server 2>/dev/null || true; wait $server 2>/dev/null || true; }
  python3 -m http.server 18480 --bind 127.0.0.1 --directory "$1" > /dev/null 2>&1 &
  server=$!
  for _ in $(seq 1 50); do python3 -c 'import socket; socket.create_connection(("127.0.0.1", 18480), 0.2)' 2>/dev/null && break; sleep 0.1; done
}

if [ "$what" = all ] || [ "$what" = md5 ]; then
  echo "== MD5 of a 1 GiB file (target: at least 90 % of md5sum's throughput)"
  [ -f "$bench/1gib.bin" ] || head -c 1073741824 /dev/urandom > "$bench/1gib.bin"
  cat "$bench/1gib.bin" > /dev/null  # both read from the page cache
  t0=$(now); md5sum "$bench/1gib.bin" > /dev/null; t1=$(now)
  native=$(python3 -c "print(1024/($t1-$t0))")
  line=$(kb md5 "$(winpath "$bench/1gib.bin")")
  ours=$(echo "$line" | field mib_per_s)
  echo "md5sum: $(printf '%.1f' "$native") MiB/s   launcher: $ours MiB/s   ratio: $(ratio "$ours" "$native")"
  echo "launcher: $line"
fi

if [ "$what" = all ] || [ "$what" = diff ]; then
  echo "== diff_local over 50,000 small files with a valid cache (target: at most 3 x find's time, no file read)"
  tree="$bench/many"
  if [ ! -f "$tree/index.txt" ]; then
    python3 - "$tree" <<'PY'
import hashlib, os, sys
root = sys.argv[1]
lines = []
for i in range(50000):
    rel = f"d{i // 500:03d}/f{i:05d}.dat"
    data = (b"%d" % i) * (1 + i % 7)
    os.makedirs(os.path.join(root, os.path.dirname(rel)), exist_ok=True)
    with open(os.path.join(root, rel), "wb") as f:
        f.write(data)
    lines.append(f"{rel}={hashlib.md5(data).hexdigest()}\t{len(data)}\n")
with open(os.path.join(root, "index.txt"), "w") as f:
    f.writelines(lines)
PY
  fi
  find "$tree" -type f -printf '%s %T@\n' > /dev/null
  t0=$(now); find "$tree" -type f -printf '%s %T@\n' > /dev/null; t1=$(now)
  native=$(python3 -c "print($t1-$t0)")
  line=$(kb diff "$(winpath "$tree")")
  ours=$(echo "$line" | field cached_seconds)
  echo "find: $(printf '%.3f' "$native") s   diff_local with cache: $ours s   ratio: $(ratio "$ours" "$native")"
  echo "launcher: $line"
fi

if [ "$what" = all ] || [ "$what" = install ]; then
  echo "== first install of a 1 GiB tree from the loopback server (target: within 1.5 x curl, under 64 MiB)"
  game="$bench/game"
  if [ ! -d "$game" ]; then
    mkdir -p "$game/big" "$game/small"
    for i in 1 2 3; do head -c 268435456 /dev/urandom > "$game/big/pack$i.kpk"; done
    head -c 134217728 /dev/urandom > "$game/big/movie.bin"
    for i in $(seq 1 400); do head -c $((i * 1300)) /dev/urandom > "$game/small/file$i.dat"; done
  fi
  rm -rf "$bench/server" && "$build/tools/kest-publish" publish "$root/config/demo-keys/demo-ed25519.secret" \
    "$bench/server" "$game" > /dev/null
  echo '{}' > "$bench/server/status.json"
  serve "$bench/server"
  urls=$(sed 's/=.*//' "$bench/server/index.txt" | sed 's|^|http://127.0.0.1:18480/get/|')
  rm -rf "$bench/curl" && mkdir -p "$bench/curl"
  t0=$(now)
  for u in $urls; do curl -s -o "$bench/curl/x" "$u"; done
  t1=$(now)
  native=$(python3 -c "print($t1-$t0)")
  rm -rf "$bench/install" && mkdir -p "$bench/install"
  line=$(kb install http://127.0.0.1:18480/ "$(winpath "$bench/install")")
  ours=$(echo "$line" | field seconds)
  echo "curl one by one: $(printf '%.2f' "$native") s   launcher engine: $ours s   ratio: $(ratio "$ours" "$native")"
  echo "launcher: $line"

  echo "== an up-to-date start of 50,000 files: status, index, cache and diff until Play would be enabled"
  [ -f "$bench/many/index.txt" ] || "$0" --in-session diff > /dev/null
  rm -rf "$bench/server50k" "$bench/install50k"
  mkdir -p "$bench/game50k" && cp -r "$bench/many/"d* "$bench/game50k/"
  "$build/tools/kest-publish" publish "$root/config/demo-keys/demo-ed25519.secret" "$bench/server50k" \
    "$bench/game50k" > /dev/null
  echo '{}' > "$bench/server50k/status.json"
  cp -r "$bench/game50k" "$bench/install50k"
  serve "$bench/server50k"
  kb uptodate http://127.0.0.1:18480/ "$(winpath "$bench/install50k")" > /dev/null  # the first start hashes everything
  echo "launcher: $(kb uptodate http://127.0.0.1:18480/ "$(winpath "$bench/install50k")")"
fi
