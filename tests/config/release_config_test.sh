#!/usr/bin/env bash
# A release configuration must refuse the demo keys and loopback or plain-http URLs, and
# accept an operator's own values. Configures (does not build) the project each time.
set -uo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
good_key=0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef
good_hmac=fedcba9876543210fedcba9876543210fedcba9876543210fedcba9876543210
demo_key=$(cat "$src/config/demo-keys/demo-ed25519.pub")
demo_hmac=$(cat "$src/config/demo-keys/demo-launch-token.key")

write() {  # patch home telemetry domain keys hmac
  cat > "$work/release.cmake" <<CFG
set(KEST_RELEASE ON)
set(KEST_PATCH_BASE_URL "$1")
set(KEST_HOMEPAGE_URL "$2")
set(KEST_TELEMETRY_URL "$3")
set(KEST_WEB_DOMAIN "$4")
set(KEST_TRUSTED_PUBLIC_KEYS "$5")
set(KEST_LAUNCH_TOKEN_KEY "$6")
set(KEST_FNV_OFFSET_BASIS "cbf29ce484222325")
CFG
}
configure() {
  rm -rf "$work/build"
  cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64.cmake" \
    -DKEST_CONFIG="$work/release.cmake" -DKEST_BUILD_TESTS=OFF > "$work/out.txt" 2>&1
}
failures=0
expect() {  # name expected(ok|refused) message-fragment
  if configure; then got=ok; else got=refused; fi
  if [ "$got" != "$2" ] || { [ -n "$3" ] && ! grep -q "$3" "$work/out.txt"; }; then
    echo "FAIL: $1: expected $2${3:+ with \"$3\"}, got $got"; sed -n '1,40p' "$work/out.txt"; failures=$((failures + 1))
  else
    echo "ok: $1"
  fi
}
P=https://patch.example.com/kest/ H=https://www.example.com T=https://telemetry.example.com D=www.example.com

write "$P" "$H" "$T" "$D" "$good_key" "$good_hmac";            expect "operator values" ok ""
write "$P" "$H" "$T" "$D" "$demo_key" "$good_hmac";            expect "demo public key" refused "demo public key"
write "$P" "$H" "$T" "$D" "$good_key;$demo_key" "$good_hmac";  expect "demo key among others" refused "demo public key"
write "$P" "$H" "$T" "$D" "$good_key" "$demo_hmac";            expect "demo launch-token key" refused "demo launch-token key"
write "https://127.0.0.1:8443/" "$H" "$T" "$D" "$good_key" "$good_hmac"; expect "loopback patch server" refused "loopback"
write "$P" "https://localhost" "$T" "$D" "$good_key" "$good_hmac";        expect "loopback home page" refused "loopback"
write "http://patch.example.com/" "$H" "$T" "$D" "$good_key" "$good_hmac"; expect "plain http" refused "https"
write "$P" "$H" "$T" "localhost" "$good_key" "$good_hmac";      expect "loopback web domain" refused "loopback"
write "$P" "$H" "$T" "$D" "abc" "$good_hmac";                  expect "short public key" refused "64 hex digits"
exit $((failures > 0))
