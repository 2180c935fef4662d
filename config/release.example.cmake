# Release configuration template. Copy it outside the repository, fill in your values and
# configure with -DKEST_CONFIG=/path/to/release.cmake (see README.md, "Building a release").
set(KEST_RELEASE ON)
set(KEST_PATCH_BASE_URL "https://patch.example.com/kest/")      # ends with "/"
set(KEST_HOMEPAGE_URL "https://www.example.com")                # no trailing "/"
set(KEST_WEB_DOMAIN "www.example.com")                          # the news feed only talks https to this host
set(KEST_TELEMETRY_URL "https://telemetry.example.com")
# One or more Ed25519 public keys (64 hex digits each, separated by ";"), as printed by
# `kest-publish keygen`. Several keys let you rotate: sign with the new one, trust both.
set(KEST_TRUSTED_PUBLIC_KEYS "")
# The 32-byte launch-token HMAC key shared with the game client (64 hex digits).
set(KEST_LAUNCH_TOKEN_KEY "")
# 64-bit FNV-1a offset basis for the system-report fingerprint (16 hex digits).
set(KEST_FNV_OFFSET_BASIS "cbf29ce484222325")
