// The game client's launch token: the HMAC against RFC 4231, the token's exact form and time
// window, and the stand-in game client kest_demo_game.exe checking what it was started with.
#include "demo/game/launch_token.h"

#include "common/utf8.h"
#include "deploy_config.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using kest_game::TokenVerdict;

std::vector<std::uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::string hex(const std::array<std::uint8_t, 32>& mac) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (auto b : mac) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

TEST(LaunchToken, HmacSha256MatchesRfc4231) {
    struct Vector {
        const char* name;
        std::vector<std::uint8_t> key;
        std::string data;
        const char* mac;
    };
    const Vector vectors[] = {
        {"case 2: short key", bytes("Jefe"), "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {"case 6: key longer than a block", std::vector<std::uint8_t>(131, 0xaa),
         "Test Using Larger Than Block-Size Key - Hash Key First",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
    };
    for (const auto& v : vectors) {
        auto mac = kest_game::hmac_sha256(v.key, bytes(v.data));
        ASSERT_TRUE(mac) << v.name;
        EXPECT_EQ(hex(*mac), v.mac) << v.name;
    }
}

// A fixed key, so the expected token below was computed independently (Python's hmac).
const std::vector<std::uint8_t> kKey = [] {
    std::vector<std::uint8_t> key(32);
    for (int i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(i);
    return key;
}();
constexpr std::int64_t kNow = 1700000000;

TEST(LaunchToken, MadeAsTheLauncherMakesIt) {
    EXPECT_EQ(kest_game::make_launch_token(kKey, kNow),
              "1700000000.227b1e2d26eb294a1ac4aa2232fc8509d4d32b88bf9549ad059e685dd8c94ad1");
}

// text + "." + a correct MAC of text: a token that only the form rules can reject.
std::string signed_text(std::string_view text) { return std::string(text) + "." + hex(*kest_game::hmac_sha256(kKey, bytes(text))); }

TEST(LaunchToken, VerdictTable) {
    const std::string good = kest_game::make_launch_token(kKey, kNow);
    const std::string mac = good.substr(good.find('.') + 1);
    std::string upper_mac = good;
    for (auto& c : upper_mac)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    std::string flipped = good;
    flipped.back() = flipped.back() == '0' ? '1' : '0';
    std::vector<std::uint8_t> other_key = kKey;
    other_key[31] ^= 1;

    struct Case {
        const char* what;
        std::string token;
        TokenVerdict verdict;
    };
    const Case cases[] = {
        {"fresh", good, TokenVerdict::Valid},
        {"empty", "", TokenVerdict::Missing},
        {"no dot", good.substr(0, good.find('.')) + mac, TokenVerdict::Malformed},
        {"time only", "1700000000", TokenVerdict::Malformed},
        {"mac only", "." + mac, TokenVerdict::Malformed},
        {"two dots", good + ".", TokenVerdict::Malformed},
        {"letter in the time", signed_text("17000x0000"), TokenVerdict::Malformed},
        {"leading zero", signed_text("01700000000"), TokenVerdict::Malformed},
        {"plus sign", signed_text("+1700000000"), TokenVerdict::Malformed},
        {"minus sign", signed_text("-1700000000"), TokenVerdict::Malformed},
        {"space before the time", signed_text(" 1700000000"), TokenVerdict::Malformed},
        {"beyond int64", signed_text("9223372036854775808"), TokenVerdict::Malformed},
        {"twenty digits, wrapping uint64 into range", signed_text("99999999999999999999"), TokenVerdict::Malformed},
        {"uppercase mac", upper_mac, TokenVerdict::Malformed},
        {"short mac", good.substr(0, good.size() - 1), TokenVerdict::Malformed},
        {"long mac", good + "0", TokenVerdict::Malformed},
        {"trailing newline", good + "\n", TokenVerdict::Malformed},
        {"non-hex in the mac", good.substr(0, good.size() - 1) + "g", TokenVerdict::Malformed},
        {"one digit of the mac changed", flipped, TokenVerdict::BadSignature},
        {"another key", kest_game::make_launch_token(other_key, kNow), TokenVerdict::BadSignature},
        {"another key and too old", kest_game::make_launch_token(other_key, kNow - 1000), TokenVerdict::BadSignature},
        {"mac of another time", "1700000001." + mac, TokenVerdict::BadSignature},
        {"exactly 300 s old", kest_game::make_launch_token(kKey, kNow - 300), TokenVerdict::Valid},
        {"301 s old", kest_game::make_launch_token(kKey, kNow - 301), TokenVerdict::Expired},
        {"time zero", kest_game::make_launch_token(kKey, 0), TokenVerdict::Expired},
        {"exactly 60 s ahead", kest_game::make_launch_token(kKey, kNow + 60), TokenVerdict::Valid},
        {"61 s ahead", kest_game::make_launch_token(kKey, kNow + 61), TokenVerdict::FromTheFuture},
        {"the largest time", signed_text("9223372036854775807"), TokenVerdict::FromTheFuture},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kest_game::verdict_text(kest_game::check_launch_token(c.token, kKey, kNow)),
                  std::string(kest_game::verdict_text(c.verdict)))
            << c.what << ": " << c.token;
}

TEST(LaunchToken, WindowIsTheCallersAndSafeAtTheClocksExtremes) {
    const kest_game::TokenWindow tight{.max_age_seconds = 5, .max_ahead_seconds = 0};
    EXPECT_EQ(kest_game::check_launch_token(kest_game::make_launch_token(kKey, kNow - 5), kKey, kNow, tight),
              TokenVerdict::Valid);
    EXPECT_EQ(kest_game::check_launch_token(kest_game::make_launch_token(kKey, kNow - 6), kKey, kNow, tight),
              TokenVerdict::Expired);
    EXPECT_EQ(kest_game::check_launch_token(kest_game::make_launch_token(kKey, kNow + 1), kKey, kNow, tight),
              TokenVerdict::FromTheFuture);
    // Differences that overflow int64 must not wrap into the window.
    const std::string largest = signed_text("9223372036854775807");
    EXPECT_EQ(kest_game::check_launch_token(largest, kKey, INT64_MIN), TokenVerdict::FromTheFuture);
    EXPECT_EQ(kest_game::check_launch_token(largest, kKey, INT64_MAX), TokenVerdict::Valid);
    EXPECT_EQ(kest_game::check_launch_token(kest_game::make_launch_token(kKey, 0), kKey, INT64_MAX),
              TokenVerdict::Expired);
}

// Sets an environment variable of this process (which the child inherits) while it lives.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const std::wstring* value) : name_(name) {
        SetEnvironmentVariableW(name_, value ? value->c_str() : nullptr);
    }
    ~ScopedEnvironment() { SetEnvironmentVariableW(name_, nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const wchar_t* name_;
};

std::int64_t unix_now() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST(LaunchTokenDemoGame, ChecksTheTokenItWasStartedWithInItsWorkingFolder) {
    const std::wstring exit_at_once = L"1";
    ScopedEnvironment no_window(L"KEST_DEMO_GAME_EXIT", &exit_at_once);

    std::string fresh = kest_game::make_launch_token(kpatch::deploy::kLaunchTokenKey, unix_now());
    ASSERT_FALSE(fresh.empty());
    std::string tampered = fresh;
    tampered[fresh.find('.') + 1] = tampered[fresh.find('.') + 1] == 'a' ? 'b' : 'a';

    struct Case {
        const char* what;
        std::optional<std::string> token;
        int exit_code;
        std::string verdict;
    };
    const Case cases[] = {
        {"fresh token", fresh, 0, "valid"},
        {"tampered token", tampered, 1, "bad signature"},
        {"no token", std::nullopt, 1, "missing"},
    };
    for (const auto& c : cases) {
        kest_test::TempDir folder;
        std::wstring token = c.token ? kpatch::from_utf8(*c.token) : L"";
        ScopedEnvironment env(L"KEST_LAUNCH_TOKEN", c.token ? &token : nullptr);
        kest_test::ChildProcess game(kest_test::exe_folder() + L"\\kest_demo_game.exe", {}, folder.path());
        ASSERT_TRUE(game.started()) << c.what;
        EXPECT_EQ(game.wait(30000), c.exit_code) << c.what;
        EXPECT_EQ(kest_test::read_file(folder / L"kest-game-result.txt"),
                  c.verdict + " " + kpatch::to_utf8(folder.path()) + "\r\n")
            << c.what;
    }
}

}  // namespace
