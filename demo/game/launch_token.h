// The launch token the Kest launcher hands to the game client, and its check.
//
// The launcher starts the game client with the environment variable KEST_LAUNCH_TOKEN set to
//
//     <unix time>.<mac>
//
// <unix time>: the launcher's clock in whole seconds, decimal, no sign, no leading zeros.
// <mac>:       HMAC-SHA256 of the <unix time> text (its ASCII bytes), keyed with the 32-byte
//              launch-token key shared by launcher and game client, as 64 lowercase hex digits.
//
// This file and launch_token.cpp depend on the C++20 standard library and Win32 BCrypt
// (link bcrypt) only, so a game client can take both as they are.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kest_game {

enum class TokenVerdict { Valid, Missing, Malformed, BadSignature, Expired, FromTheFuture };

// The accepted age of a token. The launcher makes the token immediately before it starts the
// game client, on the same machine, so a genuine token is a few seconds old: five minutes
// covers a slow start (a virus scanner, a cold disk) and still keeps a copied token from being
// replayed later. Both clocks are the same machine's clock, so a token from the future means
// the clock was set back between launch and check; a minute absorbs a time-sync correction.
struct TokenWindow {
    std::int64_t max_age_seconds = 300;   // now - time may be at most this
    std::int64_t max_ahead_seconds = 60;  // time - now may be at most this
};

// Checks token against key at Unix time now. Pure apart from the HMAC: no clock, no
// environment. The order of the verdicts: empty text is Missing; text not in the exact form
// above is Malformed; a MAC that differs (compared in constant time) is BadSignature; only a
// genuine token can be Expired or FromTheFuture. If BCrypt cannot compute the MAC the token is
// reported as BadSignature: a token that cannot be verified is never accepted.
TokenVerdict check_launch_token(std::string_view token, std::span<const std::uint8_t> key, std::int64_t now,
                                TokenWindow window = {});

// Reads KEST_LAUNCH_TOKEN from this process's environment and checks it at the system clock's
// current time. An unset or empty variable is Missing.
TokenVerdict check_launch_token_from_environment(std::span<const std::uint8_t> key, TokenWindow window = {});

// The token the launcher would make at Unix time now (now >= 0); empty if BCrypt fails.
std::string make_launch_token(std::span<const std::uint8_t> key, std::int64_t now);

// HMAC-SHA256 (RFC 2104) over BCrypt; nullopt if BCrypt fails.
std::optional<std::array<std::uint8_t, 32>> hmac_sha256(std::span<const std::uint8_t> key,
                                                        std::span<const std::uint8_t> data);

// "valid", "missing", "malformed", "bad signature", "expired", "from the future".
const char* verdict_text(TokenVerdict verdict);

}  // namespace kest_game
