#include "launcher/patch/update_index.h"

#include "common/debug_log.h"
#include "common/http_client.h"
#include "common/localization.h"
#include "common/utf8.h"
#include "deploy_config.h"

#include <sodium.h>

#include <mutex>

namespace kpatch {
namespace {

int base64_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::span<const PublicKey> compiled_in_trusted_keys() {
    static_assert(sizeof(PublicKey) == sizeof(deploy::kTrustedPublicKeys[0]));
    return {reinterpret_cast<const PublicKey*>(deploy::kTrustedPublicKeys), std::size(deploy::kTrustedPublicKeys)};
}

std::optional<std::array<std::uint8_t, 64>> decode_signature(std::string_view text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
    if (text.empty() || text.size() % 4 != 0) return std::nullopt;
    size_t padding = 0;
    if (text.back() == '=') ++padding;
    if (text.size() >= 2 && text[text.size() - 2] == '=') ++padding;
    if (text.size() / 4 * 3 - padding != 64) return std::nullopt;

    std::array<std::uint8_t, 64> out{};
    size_t n = 0;
    std::uint32_t bits = 0;
    int bit_count = 0;
    for (size_t i = 0; i < text.size() - padding; ++i) {
        int v = base64_value(text[i]);
        if (v < 0) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        bit_count += 6;
        if (bit_count >= 8) {
            bit_count -= 8;
            if (n == out.size()) return std::nullopt;
            out[n++] = static_cast<std::uint8_t>(bits >> bit_count);
        }
    }
    if (n != out.size()) return std::nullopt;
    return out;
}

bool verify_index_signature(std::string_view index, std::string_view signature_text, std::span<const PublicKey> keys) {
    auto signature = decode_signature(signature_text);
    if (!signature) return false;
    static std::once_flag init;
    std::call_once(init, [] {
        if (sodium_init() < 0) debug_line(L"libsodium failed to initialise");
    });

    std::vector<unsigned char> signed_message(signature->begin(), signature->end());
    signed_message.insert(signed_message.end(), index.begin(), index.end());
    std::vector<unsigned char> opened(signed_message.size());
    for (const PublicKey& key : keys) {
        unsigned long long opened_len = 0;
        if (crypto_sign_open(opened.data(), &opened_len, signed_message.data(), signed_message.size(), key.data()) ==
                0 &&
            opened_len == index.size())
            return true;
    }
    return false;
}

bool verify_index_signature(std::string_view index, std::string_view signature_text) {
    return verify_index_signature(index, signature_text, compiled_in_trusted_keys());
}

FetchResult fetch_index_from(const std::wstring& base_url, const std::wstring& index_path, std::string& index,
                             std::wstring* error, DWORD* win_error, IPatcherUI* ui, std::span<const PublicKey> keys) {
    index.clear();
    const std::wstring url = base_url + index_path;
    std::wstring text;
    if (!http_get_buffer(url, index, &text, kIndexMaxBytes)) {
        if (win_error) *win_error = GetLastError();
        if (error) *error = text;
        return text == L"http status 404" ? FetchNotFound : FetchUnreachable;
    }
    if (ui) ui->set_status_text(ui_text(12));
    std::string signature;
    if (!http_get_buffer(url + L".sig", signature, &text, kSignatureMaxBytes)) {
        if (win_error) *win_error = GetLastError();
        if (error) *error = text;
        return FetchNoSignature;
    }
    if (!decode_signature(signature)) return FetchBadSignature;
    return verify_index_signature(index, signature, keys) ? FetchOk : FetchBadSignature;
}

FetchResult fetch_index(const std::wstring& index_path, std::string& index, std::wstring* error, DWORD* win_error,
                        IPatcherUI* ui) {
    return fetch_index_from(patch_base_url(), index_path, index, error, win_error, ui, compiled_in_trusted_keys());
}

bool is_safe_relative_path(std::wstring_view path) {
    if (path.empty() || path.front() == L'\\' || path.front() == L'/') return false;
    if (path.find(L':') != std::wstring_view::npos) return false;
    size_t start = 0;
    for (;;) {
        size_t end = path.find_first_of(L"\\/", start);
        std::wstring_view component = path.substr(start, end == std::wstring_view::npos ? path.npos : end - start);
        if (component == L"..") return false;
        if (end == std::wstring_view::npos) return true;
        start = end + 1;
    }
}

std::vector<PatchEntry> parse_index(std::string_view bytes) {
    std::vector<PatchEntry> entries;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t lf = bytes.find('\n', pos);
        std::string_view line = bytes.substr(pos, lf == std::string_view::npos ? bytes.npos : lf - pos);
        pos = lf == std::string_view::npos ? bytes.size() : lf + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        size_t tab = line.find('\t', eq + 1);
        if (tab == std::string_view::npos) continue;

        PatchEntry entry;
        entry.path = from_utf8(line.substr(0, eq));
        entry.hash = std::string(line.substr(eq + 1, tab - eq - 1));
        std::string_view size = line.substr(tab + 1);
        bool negative = !size.empty() && size.front() == '-';
        if (!size.empty() && (size.front() == '-' || size.front() == '+')) size.remove_prefix(1);
        std::int64_t value = 0;
        for (char c : size) {
            if (c < '0' || c > '9') break;
            if (value > (INT64_MAX - (c - '0')) / 10) break;  // keep the digits that fit
            value = value * 10 + (c - '0');
        }
        entry.size = negative ? -value : value;
        if (is_safe_relative_path(entry.path)) entries.push_back(std::move(entry));
    }
    return entries;
}

std::wstring parse_build_label(std::string_view bytes) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t start = 0;
    while (start < bytes.size() && blank(bytes[start])) ++start;
    size_t end = start;
    while (end < bytes.size() && !blank(bytes[end])) ++end;
    std::string_view token = bytes.substr(start, end - start);
    if (token.empty() || token.size() > 32) return {};
    for (char c : token) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                  c == '.' || c == '_';
        if (!ok) return {};
    }
    return std::wstring(token.begin(), token.end());
}

}  // namespace kpatch
