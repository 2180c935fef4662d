#include "launcher/patch/update_index.h"

#include <gtest/gtest.h>

namespace {

using kpatch::PublicKey;

PublicKey key_from_hex(const char* hex) {
    PublicKey k{};
    for (size_t i = 0; i < 32; ++i) k[i] = static_cast<std::uint8_t>(std::stoi(std::string(hex + 2 * i, 2), nullptr, 16));
    return k;
}

std::string bytes_from_hex(const char* hex) {
    std::string out;
    for (size_t i = 0; hex[i]; i += 2) out.push_back(static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return out;
}

// RFC 8032, section 7.1, tests 1 to 3: public key, message, signature (Base64).
struct Vector {
    const char* key;
    const char* message_hex;
    const char* signature;
};
const Vector kRfc8032[] = {
    {"d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "5VZDAMNgrHKQhuLMgG6CioSHfx645dl02HPgZSJJAVVfuIIVkKM7rMYeOXAc+bRr0lv18FlbviRlUUFDjnoQCw=="},
    {"3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "kqAJqfDUyrhyDoILX2QlQKKye1QWUD+Ps3YiI+vbadoIWsHkPhWZbkWPNhPQ8R2MOHsurrQwKu6wDSkWErsMAA=="},
    {"fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "YpHWV97sJAJIJ+acOr4BowzlSKKEdDpEXjaA19taw6wY/5tTjRbykK5n92CYTcZZSnwV6XFu0o3AJ77O6h7ECg=="},
};

TEST(IndexSignature, Rfc8032VectorsVerifyWithTheirKeyOnly) {
    for (const Vector& v : kRfc8032) {
        std::string message = bytes_from_hex(v.message_hex);
        PublicKey key = key_from_hex(v.key);
        EXPECT_TRUE(kpatch::verify_index_signature(message, v.signature, {&key, 1})) << v.key;
        EXPECT_FALSE(kpatch::verify_index_signature(message, v.signature)) << "the demo key must not verify it";
        // Any key in the list will do.
        PublicKey keys[] = {key_from_hex(kRfc8032[0].key == v.key ? kRfc8032[1].key : kRfc8032[0].key), key};
        EXPECT_TRUE(kpatch::verify_index_signature(message, v.signature, keys));
    }
}

TEST(IndexSignature, OneChangedByteFailsVerification) {
    const Vector& v = kRfc8032[2];
    PublicKey key = key_from_hex(v.key);
    std::string message = bytes_from_hex(v.message_hex);
    for (std::string changed : {message + "\r", message + "\n", std::string("\xaf\x83"), std::string("\xaf")}) {
        EXPECT_FALSE(kpatch::verify_index_signature(changed, v.signature, {&key, 1}));
    }
    std::string sig = v.signature;
    sig[10] = sig[10] == 'A' ? 'B' : 'A';
    EXPECT_FALSE(kpatch::verify_index_signature(message, sig, {&key, 1}));
}

TEST(IndexSignature, SignatureTextRules) {
    const std::string good = kRfc8032[1].signature;  // 88 characters ending in "=="
    ASSERT_EQ(good.size(), 88u);
    struct Case {
        std::string text;
        bool ok;
    } cases[] = {
        {good, true},
        {good + "\r\n", true},
        {good + "\n\n\r\n", true},
        {" " + good, false},
        {good + " ", false},
        {good.substr(0, 84), false},
        {good.substr(0, 86) + "AAAA==", false},                     // 92 characters
        {good.substr(0, 40) + "=" + good.substr(41), false},        // inner "="
        {good.substr(0, 86) + "A=", false},                         // decodes to 65 bytes
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(kpatch::decode_signature(c.text).has_value(), c.ok) << c.text;
    PublicKey key = key_from_hex(kRfc8032[1].key);
    EXPECT_TRUE(kpatch::verify_index_signature("\x72", good + "\r\n", {&key, 1}));
    EXPECT_FALSE(kpatch::verify_index_signature("\x72", " " + good, {&key, 1}));
}

TEST(IndexParse, LinesAndPaths) {
    const std::string hash = "0123456789abcdef0123456789ABCDEF";
    std::string index = "data/a.pak=" + hash + "\t1024\r\n"   // CR LF line
                        "\\abs.pak=" + hash + "\t1\n"          // leading separator
                        "C:\\x.pak=" + hash + "\t1\n"           // drive letter
                        "no-tab=" + hash + " 5\n"              // "=" but no tab
                        "no equals\t5\n"
                        "\n"
                        "up/../x=" + hash + "\t1\n"            // ".." component
                        "..a/..b=" + hash + "\t7\n"            // names that only start with two dots
                        "./x//y=" + hash + "\t9x\n"            // "." and empty components; digits then junk
                        "z.bin=" + hash + "\tnone\n"           // no digits: size 0
                        "a=b=c\t3";                             // path up to the first "=", no final LF
    auto entries = kpatch::parse_index(index);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].path, L"data/a.pak");
    EXPECT_EQ(entries[0].hash, hash);
    EXPECT_EQ(entries[0].size, 1024);
    EXPECT_EQ(entries[1].path, L"..a/..b");
    EXPECT_EQ(entries[1].size, 7);
    EXPECT_EQ(entries[2].path, L"./x//y");
    EXPECT_EQ(entries[2].size, 9);
    EXPECT_EQ(entries[3].size, 0);
    EXPECT_EQ(entries[4].path, L"a");
    EXPECT_EQ(entries[4].hash, "b=c");
    EXPECT_EQ(entries[4].size, 3);

    EXPECT_EQ(kpatch::parse_index("").size(), 0u);
    EXPECT_EQ(kpatch::parse_index("caf\xc3\xa9.txt=h\t1\n")[0].path, L"caf\u00e9.txt");
}

TEST(IndexParse, SafeRelativePaths) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"a.txt", true},       {L"dir\\file", true},   {L"dir/file", true},  {L"..a", true},
        {L"a/..b/c", true},     {L"./a", true},         {L"a//b", true},      {L"...", true},
        {L"", false},           {L"\\a", false},        {L"/a", false},       {L"C:a", false},
        {L"a/b:c", false},      {L"..", false},         {L"a/../b", false},   {L"a\\..", false},
        {L"..\\a", false},
    };
    for (auto [path, ok] : cases) EXPECT_EQ(kpatch::is_safe_relative_path(path), ok) << path;
}

TEST(BuildLabel, FirstTokenOfSafeCharacters) {
    const std::pair<const char*, const wchar_t*> cases[] = {
        {"2026.12-rc_1 more text", L"2026.12-rc_1"},
        {"\r\n\t  b42\n", L"b42"},
        {"a/b", L""},
        {"123456789012345678901234567890123", L""},  // 33 characters
        {"12345678901234567890123456789012", L"12345678901234567890123456789012"},
        {"", L""},
        {"   ", L""},
        {"caf\xc3\xa9", L""},
    };
    for (auto [bytes, label] : cases) EXPECT_EQ(kpatch::parse_build_label(bytes), label) << bytes;
}

}  // namespace
