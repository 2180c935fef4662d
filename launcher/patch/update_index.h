// The signed update index: its lines, its detached Ed25519 signature, and fetching both.
#pragma once

#include "launcher/core/patcher_ui.h"
#include "launcher/patch/target.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kpatch {

struct PatchEntry {
    std::wstring path;       // relative to the target root, either separator
    std::string hash;        // MD5 as hexadecimal text, as written in the index
    std::int64_t size = 0;
};

enum FetchResult : std::int32_t {
    FetchOk = 0,            // downloaded and verified
    FetchNotFound = 1,      // the index answered exactly "http status 404"
    FetchUnreachable = 2,   // the index download failed otherwise
    FetchNoSignature = 3,   // the index arrived, its signature did not
    FetchBadSignature = 4,  // the signature is malformed or does not verify
};

inline constexpr std::uint64_t kIndexMaxBytes = 33554432;
inline constexpr std::uint64_t kSignatureMaxBytes = 4096;
inline constexpr std::uint64_t kBuildLabelMaxBytes = 256;

using PublicKey = std::array<std::uint8_t, 32>;

// The Ed25519 keys of the deployment configuration.
std::span<const PublicKey> compiled_in_trusted_keys();

// Downloads index_path (below the patch base URL) and its ".sig" and verifies them
// against the compiled-in keys. error and win_error are filled for results 1 to 3.
FetchResult fetch_index(const std::wstring& index_path, std::string& index, std::wstring* error, DWORD* win_error,
                        IPatcherUI* ui);
// The same against another server and key list (the engine passes the compiled-in ones).
FetchResult fetch_index_from(const std::wstring& base_url, const std::wstring& index_path, std::string& index,
                             std::wstring* error, DWORD* win_error, IPatcherUI* ui, std::span<const PublicKey> keys);

std::optional<std::array<std::uint8_t, 64>> decode_signature(std::string_view text);
bool verify_index_signature(std::string_view index, std::string_view signature_text);
bool verify_index_signature(std::string_view index, std::string_view signature_text, std::span<const PublicKey> keys);

std::vector<PatchEntry> parse_index(std::string_view bytes);
bool is_safe_relative_path(std::wstring_view path);
// The first token of build.txt when it is 1 to 32 of [A-Za-z0-9._-]; empty otherwise.
std::wstring parse_build_label(std::string_view bytes);

}  // namespace kpatch
