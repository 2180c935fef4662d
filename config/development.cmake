# Development configuration: loopback servers and the committed demo keys, so that the
# demo and the tests run the real programs on one machine. Never ship a build of it.
set(KEST_RELEASE OFF)
set(KEST_PATCH_BASE_URL "http://127.0.0.1:18480/")
set(KEST_HOMEPAGE_URL "https://localhost:18443")
set(KEST_WEB_DOMAIN "localhost")
set(KEST_TELEMETRY_URL "http://127.0.0.1:18481")
file(READ "${CMAKE_CURRENT_LIST_DIR}/demo-keys/demo-ed25519.pub" KEST_TRUSTED_PUBLIC_KEYS)
file(READ "${CMAKE_CURRENT_LIST_DIR}/demo-keys/demo-launch-token.key" KEST_LAUNCH_TOKEN_KEY)
set(KEST_FNV_OFFSET_BASIS "cbf29ce484222325")
