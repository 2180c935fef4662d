#include "launcher/core/launch.h"

#include "deploy_config.h"

#include <gtest/gtest.h>

namespace {

TEST(LaunchToken, HmacSha256MatchesRfc4231) {
    const std::string key = "Jefe";
    EXPECT_EQ(kpatch::hmac_sha256_hex(reinterpret_cast<const std::uint8_t*>(key.data()), key.size(),
                                      "what do ya want for nothing?"),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

TEST(LaunchToken, IsTheTimeAndItsMac) {
    std::wstring token = kpatch::make_launch_token(1765432100);
    std::string expected_mac =
        kpatch::hmac_sha256_hex(kpatch::deploy::kLaunchTokenKey.data(), kpatch::deploy::kLaunchTokenKey.size(),
                                "1765432100");
    EXPECT_EQ(token, L"1765432100." + std::wstring(expected_mac.begin(), expected_mac.end()));
    EXPECT_EQ(kpatch::make_launch_token(1765432100), token) << "two launches within one second share a token";
    EXPECT_NE(kpatch::make_launch_token(1765432101), token);
}

}  // namespace
