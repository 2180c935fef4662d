#!/usr/bin/env bash
# Builds libsodium for x86_64-w64-mingw32 from Debian's source package of the version
# Debian ships, into .cache/libsodium-<version>/ (static, minimal). Reused while the
# version stays the same; a new Debian version builds a new folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache="$root/.cache"
mkdir -p "$cache"

# The version Debian ships, from the native -dev package's source version.
version=$(dpkg-query -W -f='${source:Upstream-Version}' libsodium-dev 2>/dev/null || true)
[ -n "$version" ] || { echo "build-libsodium: libsodium-dev is not installed (run scripts/bootstrap.sh)" >&2; exit 1; }
prefix="$cache/libsodium-$version"
if [ -f "$prefix/lib/libsodium.a" ] && [ -f "$prefix/include/sodium.h" ]; then
  exit 0
fi

src="$cache/src-libsodium"
rm -rf "$src" && mkdir -p "$src"
cd "$src"
if ! apt-get source --download-only "libsodium=$(dpkg-query -W -f='${Version}' libsodium-dev)" >/dev/null 2>&1; then
  # apt needs a deb-src entry; add one beside the machine's Debian entry (root only).
  if [ "$(id -u)" -ne 0 ]; then
    echo "build-libsodium: apt has no deb-src entry for Debian. As root, add one (Types: deb-src) and run apt-get update." >&2
    exit 1
  fi
  for f in /etc/apt/sources.list.d/debian.sources /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && grep -q 'deb.debian.org/debian$' "$f" && break
  done
  [ -f "$f" ] || { echo "build-libsodium: no Debian apt source found" >&2; exit 1; }
  awk 'BEGIN{RS="";ORS="\n\n"} /deb.debian.org\/debian\n/ || /deb.debian.org\/debian$/ {sub(/Types: deb/,"Types: deb-src"); print}' "$f" \
    > /etc/apt/sources.list.d/kest-deb-src.sources
  apt-get update -qq
  apt-get source --download-only "libsodium=$(dpkg-query -W -f='${Version}' libsodium-dev)" >/dev/null
fi
tarball=$(ls libsodium_*.orig.tar.* | head -n 1)
tar xf "$tarball"
cd libsodium-*/
[ -x ./configure ] || ./autogen.sh -s >/dev/null 2>&1
./configure --host=x86_64-w64-mingw32 --prefix="$prefix" --disable-shared --enable-static --enable-minimal \
  CC=x86_64-w64-mingw32-gcc-posix CFLAGS="-O2" >/dev/null
make -j"$(nproc)" >/dev/null
make install >/dev/null
cd "$root"
rm -rf "$src"
echo "build-libsodium: built $prefix"
