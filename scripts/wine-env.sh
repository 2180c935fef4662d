# Sourced by the Wine scripts: the environment every Wine process of the project runs in.
# KEST_WINEPREFIX names the prefix (inside the build tree); everything else follows from it.
: "${KEST_WINEPREFIX:?KEST_WINEPREFIX is not set}"
export WINEPREFIX="$KEST_WINEPREFIX"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
# The prefix's Desktop, Documents and Downloads link to $HOME: give Wine a throw-away one.
export HOME="$KEST_WINEPREFIX.home"
# WinHTTP's default proxy follows these, even for 127.0.0.1.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
KEST_WINE=/usr/lib/wine/wine64
KEST_WINESERVER=/usr/lib/wine/wineserver
