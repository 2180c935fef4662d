#!/usr/bin/env bash
# Creates the project's Wine prefix once (no Mono/Gecko, Tahoma installed, Windows 10,
# a virtual desktop so that closing windows does not wait for a window manager).
# Usage: KEST_WINEPREFIX=DIR scripts/wine-prefix.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
stamp="$WINEPREFIX/.kest-ready"
[ -f "$stamp" ] && exit 0
rm -rf "$WINEPREFIX" "$HOME"
mkdir -p "$HOME" "$(dirname "$WINEPREFIX")"
"$KEST_WINE" wineboot -i >/dev/null 2>&1
"$KEST_WINESERVER" -w
cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
"$KEST_WINE" winecfg -v win10 >/dev/null 2>&1
"$KEST_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
"$KEST_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x800 /f >/dev/null 2>&1
"$KEST_WINESERVER" -w
touch "$stamp"
