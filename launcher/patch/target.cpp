#include "launcher/patch/target.h"

#include "deploy_config.h"

#include <windows.h>

#include <algorithm>

namespace kpatch {

std::wstring patch_base_url() { return deploy::kPatchBaseUrl; }
std::wstring status_url() { return patch_base_url() + L"status.json"; }

std::wstring index_url(const std::wstring& base, const Target& target) { return base + target.index_path; }

std::wstring signature_url(const std::wstring& base, const Target& target) {
    return index_url(base, target) + L".sig";
}

std::wstring entry_url(const std::wstring& base, const Target& target, const std::wstring& entry_path) {
    std::wstring path = entry_path;
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return base + target.get_prefix + path;
}

std::wstring build_label_url(const std::wstring& base) { return base + L"unity/win/build.txt"; }

std::wstring target_root(const Target& target) {
    wchar_t dir[260] = {};
    DWORD n = GetCurrentDirectoryW(260, dir);
    std::wstring root = (n > 0 && n < 260) ? std::wstring(dir, n) : std::wstring();
    if (target.subdir) root += std::wstring(L"\\") + target.subdir;
    return root;
}

std::wstring last_path_component(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring entry_local_path(const std::wstring& root, const std::wstring& entry_path) {
    if (!root.empty() && (root.back() == L'\\' || root.back() == L'/')) return root + entry_path;
    return root + L"\\" + entry_path;
}

}  // namespace kpatch
