#!/usr/bin/env bash
# Maps a 2 MiB tmpfs as the Wine drive Q: and runs the disk-full download test on it.
# Exits 77 (reported by ctest as skipped, with the reason) where tmpfs cannot be mounted.
set -uo pipefail
winerun=$1 prefix=$2 test_exe=$3
small=$(mktemp -d)
drive="$prefix/dosdevices/q:"
cleanup() { rm -f "$drive"; umount "$small" 2>/dev/null; rmdir "$small"; }
trap cleanup EXIT
if ! mount -t tmpfs -o size=2m tmpfs "$small" 2>/dev/null; then
  echo "SKIPPED: cannot mount a small tmpfs here (needs root); the disk-full path is not tested"
  exit 77
fi
ln -sfn "$small" "$drive"
"$winerun" --prefix "$prefix" "$test_exe"
