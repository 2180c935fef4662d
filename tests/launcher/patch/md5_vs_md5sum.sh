#!/usr/bin/env bash
# Hashes a 7 MiB (+ a few odd bytes) random file with md5sum and with the launcher's
# file_md5_hex under Wine, and fails unless both agree.
set -euo pipefail
winerun=$1 prefix=$2 test_exe=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
head -c $((7 * 1048576 + 13)) /dev/urandom > "$dir/big.bin"
expected=$(md5sum "$dir/big.bin" | cut -d' ' -f1)
"$winerun" --prefix "$prefix" "$test_exe" "Z:${dir//\//\\}\\big.bin" "$expected"
