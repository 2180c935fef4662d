#include "launch_token.h"

#include <windows.h>

#include <bcrypt.h>

#include <chrono>
#include <limits>

namespace kest_game {
namespace {

constexpr size_t kMacHexDigits = 64;

struct AlgorithmHandle {
    BCRYPT_ALG_HANDLE handle = nullptr;
    AlgorithmHandle() = default;
    AlgorithmHandle(const AlgorithmHandle&) = delete;
    AlgorithmHandle& operator=(const AlgorithmHandle&) = delete;
    ~AlgorithmHandle() {
        if (handle) BCryptCloseAlgorithmProvider(handle, 0);
    }
};

struct HashHandle {
    BCRYPT_HASH_HANDLE handle = nullptr;
    HashHandle() = default;
    HashHandle(const HashHandle&) = delete;
    HashHandle& operator=(const HashHandle&) = delete;
    ~HashHandle() {
        if (handle) BCryptDestroyHash(handle);
    }
};

std::string to_hex(const std::array<std::uint8_t, 32>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0f]);
    }
    return out;
}

// Equal-length texts compared without an early exit, so the time taken does not tell an
// attacker how many leading digits of a forged MAC were right.
bool equal_in_constant_time(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    volatile unsigned char difference = 0;
    for (size_t i = 0; i < a.size(); ++i)
        difference = difference | static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

// The <unix time> part: decimal digits, "0" or no leading zero, within int64.
std::optional<std::int64_t> parse_time(std::string_view text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    if (text.size() > 1 && text[0] == '0') return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');  // 19 digits fit in uint64
    }
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

bool is_lowercase_hex(std::string_view text) {
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

std::optional<std::string> mac_hex(std::span<const std::uint8_t> key, std::string_view time_text) {
    auto mac = hmac_sha256(key, {reinterpret_cast<const std::uint8_t*>(time_text.data()), time_text.size()});
    if (!mac) return std::nullopt;
    return to_hex(*mac);
}

}  // namespace

std::optional<std::array<std::uint8_t, 32>> hmac_sha256(std::span<const std::uint8_t> key,
                                                        std::span<const std::uint8_t> data) {
    AlgorithmHandle algorithm;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm.handle, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                    BCRYPT_ALG_HANDLE_HMAC_FLAG)))
        return std::nullopt;
    // BCrypt takes non-const pointers for input it only reads. An empty key still needs a
    // valid pointer.
    UCHAR no_key = 0;
    auto* secret = key.empty() ? &no_key : const_cast<UCHAR*>(key.data());
    HashHandle hash;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.handle, &hash.handle, nullptr, 0, secret,
                                         static_cast<ULONG>(key.size()), 0)))
        return std::nullopt;
    if (!data.empty() &&
        !BCRYPT_SUCCESS(BCryptHashData(hash.handle, const_cast<UCHAR*>(data.data()), static_cast<ULONG>(data.size()), 0)))
        return std::nullopt;
    std::array<std::uint8_t, 32> mac{};
    if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.handle, mac.data(), static_cast<ULONG>(mac.size()), 0)))
        return std::nullopt;
    return mac;
}

TokenVerdict check_launch_token(std::string_view token, std::span<const std::uint8_t> key, std::int64_t now,
                                TokenWindow window) {
    if (token.empty()) return TokenVerdict::Missing;
    size_t dot = token.find('.');
    if (dot == std::string_view::npos) return TokenVerdict::Malformed;
    std::string_view time_text = token.substr(0, dot);
    std::string_view mac_text = token.substr(dot + 1);
    auto time = parse_time(time_text);
    if (!time || mac_text.size() != kMacHexDigits || !is_lowercase_hex(mac_text)) return TokenVerdict::Malformed;

    auto expected = mac_hex(key, time_text);
    if (!expected || !equal_in_constant_time(*expected, mac_text)) return TokenVerdict::BadSignature;

    // Differences taken in unsigned arithmetic: time may be anything up to INT64_MAX and now
    // anything at all, and the difference of the larger minus the smaller always fits.
    if (*time > now) {
        std::uint64_t ahead = static_cast<std::uint64_t>(*time) - static_cast<std::uint64_t>(now);
        if (window.max_ahead_seconds < 0 || ahead > static_cast<std::uint64_t>(window.max_ahead_seconds))
            return TokenVerdict::FromTheFuture;
    } else {
        std::uint64_t age = static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(*time);
        if (window.max_age_seconds < 0 || age > static_cast<std::uint64_t>(window.max_age_seconds))
            return TokenVerdict::Expired;
    }
    return TokenVerdict::Valid;
}

TokenVerdict check_launch_token_from_environment(std::span<const std::uint8_t> key, TokenWindow window) {
    wchar_t buffer[256];
    DWORD length = GetEnvironmentVariableW(L"KEST_LAUNCH_TOKEN", buffer, 256);
    if (length == 0) return TokenVerdict::Missing;    // unset (or set to nothing)
    if (length >= 256) return TokenVerdict::Malformed;  // far longer than any token
    std::string token;
    for (DWORD i = 0; i < length; ++i) {
        if (buffer[i] > 0x7f) return TokenVerdict::Malformed;
        token.push_back(static_cast<char>(buffer[i]));
    }
    auto now = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
    return check_launch_token(token, key, now.count(), window);
}

std::string make_launch_token(std::span<const std::uint8_t> key, std::int64_t now) {
    std::string time_text = std::to_string(now);
    auto mac = mac_hex(key, time_text);
    if (!mac) return {};
    return time_text + "." + *mac;
}

const char* verdict_text(TokenVerdict verdict) {
    switch (verdict) {
    case TokenVerdict::Valid: return "valid";
    case TokenVerdict::Missing: return "missing";
    case TokenVerdict::Malformed: return "malformed";
    case TokenVerdict::BadSignature: return "bad signature";
    case TokenVerdict::Expired: return "expired";
    case TokenVerdict::FromTheFuture: return "from the future";
    }
    return "malformed";
}

}  // namespace kest_game
