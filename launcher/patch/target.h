// The two patch targets (V1 Stable and V2 Alpha) and the URLs and folders derived from them.
#pragma once

#include <optional>
#include <string>

namespace kpatch {

struct Target {
    const wchar_t* index_path;  // below the patch base URL
    const wchar_t* get_prefix;  // where its files lie below the patch base URL
    const wchar_t* subdir;      // folder below the launcher's, or nullptr
    bool legacy;                // the V1 target
};

inline constexpr Target legacy_target{L"index.txt", L"get/", nullptr, true};
inline constexpr Target unity_target{L"unity/win/index.txt", L"get/unity/win/", L"unity", false};

// The patch server's base URL from the deployment configuration; ends with "/".
std::wstring patch_base_url();
std::wstring status_url();  // patch base URL + "status.json"

std::wstring index_url(const std::wstring& base, const Target& target);
std::wstring signature_url(const std::wstring& base, const Target& target);
std::wstring entry_url(const std::wstring& base, const Target& target, const std::wstring& entry_path);
std::wstring build_label_url(const std::wstring& base);

// The current directory, plus "\" + subdir for the V2 target.
std::wstring target_root(const Target& target);
// The last component of a path (after its last "\" or "/").
std::wstring last_path_component(const std::wstring& path);

// root + "\" + path (no separator added when root already ends in one).
std::wstring entry_local_path(const std::wstring& root, const std::wstring& entry_path);

}  // namespace kpatch
