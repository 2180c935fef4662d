#include "launcher/patch/prune.h"

#include "common/debug_log.h"
#include "common/unique_handle.h"
#include "launcher/patch/target.h"

#include <windows.h>

#include <set>

namespace kpatch {
namespace {

std::wstring lower_ascii(std::wstring s) {
    for (wchar_t& c : s)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return s;
}

std::wstring prune_key(std::wstring path) {
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return lower_ascii(path);
}

}  // namespace

bool is_pack_name(const std::wstring& file_name) {
    std::wstring n = lower_ascii(file_name);
    auto ends = [&](const wchar_t* s) { return n.size() >= 4 && n.compare(n.size() - 4, 4, s) == 0; };
    return n.rfind(L"kest_patch_", 0) == 0 && (ends(L".kpk") || ends(L".kdx"));
}

std::vector<std::wstring> superseded_packs(const std::vector<PatchEntry>& index,
                                           const std::vector<std::wstring>& found) {
    if (index.empty()) return {};
    std::set<std::wstring> keep;
    for (const PatchEntry& e : index) {
        std::wstring name = last_path_component(e.path);
        if (is_pack_name(name)) keep.insert(lower_ascii(name));
    }
    std::vector<std::wstring> out;
    for (const std::wstring& name : found)
        if (is_pack_name(name) && !keep.count(lower_ascii(name))) out.push_back(name);
    return out;
}

int prune_packs(const std::vector<PatchEntry>& index, const std::wstring& root) {
    const std::wstring folder = entry_local_path(root, L"pack");
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW fd;
    unique_find find(FindFirstFileW((folder + L"\\kest_patch_*").c_str(), &fd));
    if (find) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) found.emplace_back(fd.cFileName);
        } while (FindNextFileW(find.get(), &fd));
    }
    int count = 0;
    for (const std::wstring& name : superseded_packs(index, found))
        if (DeleteFileW((folder + L"\\" + name).c_str())) ++count;
    return count;
}

bool is_prunable_path(const std::wstring& path) {
    if (!is_safe_relative_path(path)) return false;
    size_t start = 0;
    for (;;) {
        size_t end = path.find_first_of(L"\\/", start);
        std::wstring component = path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (component.empty() || component == L".") return false;
        if (end == std::wstring::npos) return true;
        start = end + 1;
    }
}

std::vector<std::wstring> dropped_paths(const std::vector<PatchEntry>& old_entries,
                                        const std::vector<PatchEntry>& new_entries) {
    if (old_entries.empty() || new_entries.empty()) return {};
    std::set<std::wstring> keep;
    for (const PatchEntry& e : new_entries) keep.insert(prune_key(e.path));
    std::vector<std::wstring> out;
    for (const PatchEntry& e : old_entries)
        if (is_prunable_path(e.path) && !keep.count(prune_key(e.path))) out.push_back(e.path);
    return out;
}

int prune_unity(const std::vector<PatchEntry>& old_entries, const std::vector<PatchEntry>& new_entries,
                const std::wstring& root) {
    int count = 0;
    for (const std::wstring& path : dropped_paths(old_entries, new_entries)) {
        if (!is_safe_relative_path(path)) continue;
        if (DeleteFileW(entry_local_path(root, path).c_str())) {
            debug_line(L"unity prune: " + path);
            ++count;
        }
    }
    return count;
}

std::optional<std::vector<PatchEntry>> read_applied_list(const std::wstring& root) {
    unique_file file(CreateFileW(entry_local_path(root, kUnityAppliedList).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (bytes.size() < kAppliedListMaxBytes && ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    if (bytes.size() > kAppliedListMaxBytes) bytes.resize(kAppliedListMaxBytes);
    return parse_index(bytes);
}

}  // namespace kpatch
