#include "tests/support/published_tree.h"

#include "common/utf8.h"
#include "launcher/patch/md5.h"
#include "tests/support/files.h"
#include "tests/support/test_server.h"

#include <sodium.h>

#include <windows.h>

namespace kest_test {

std::string demo_signature(const std::string& bytes) {
    static const std::string secret_hex = KEST_DEMO_SECRET_HEX;
    unsigned char sk[64];
    size_t len = 0;
    if (sodium_init() < 0 || sodium_hex2bin(sk, sizeof sk, secret_hex.data(), secret_hex.size(), " \r\n", &len, nullptr) != 0 ||
        len != sizeof sk)
        return {};
    unsigned char sig[64];
    crypto_sign_detached(sig, nullptr, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), sk);
    char b64[sodium_base64_ENCODED_LEN(64, sodium_base64_VARIANT_ORIGINAL)];
    sodium_bin2base64(b64, sizeof b64, sig, sizeof sig, sodium_base64_VARIANT_ORIGINAL);
    return std::string(b64) + "\n";
}

std::string PublishedTree::publish_effects(const std::string& index, bool v2) {
    const std::string path = v2 ? "unity/win/index.txt" : "index.txt";
    return R"([{"write_file": ")" + path + R"(.sig", "body_b64": ")" + base64(demo_signature(index)) +
           R"("}, {"write_file": ")" + path + R"(", "body_b64": ")" + base64(index) + R"("}])";
}

void PublishedTree::put(const std::wstring& relative, const std::string& bytes) {
    std::wstring full = dir_ / relative;
    for (size_t i = dir_.path().size() + 1; i < full.size(); ++i)
        if (full[i] == L'\\' || full[i] == L'/') CreateDirectoryW(full.substr(0, i).c_str(), nullptr);
    write_file(full, bytes);
}

void PublishedTree::publish(const std::map<std::wstring, std::string>& files, bool v2) {
    std::string index;
    for (const auto& [path, content] : files) {
        put((v2 ? L"get\\unity\\win\\" : L"get\\") + path, content);
        index += kpatch::to_utf8(path) + "=" + kpatch::md5_hex(content) + "\t" + std::to_string(content.size()) + "\n";
    }
    publish_index(index, v2);
}

void PublishedTree::publish_index(const std::string& index, bool v2) {
    index_ = index;
    const std::wstring path = v2 ? L"unity\\win\\index.txt" : L"index.txt";
    put(path + L".sig", demo_signature(index));
    put(path, index);
}

}  // namespace kest_test
