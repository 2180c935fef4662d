// Removing what a release no longer needs: superseded V1 patch packs, and V2 files that
// the new index dropped. Every deletion is best effort.
#pragma once

#include "launcher/patch/update_index.h"

#include <optional>
#include <string>
#include <vector>

namespace kpatch {

inline constexpr wchar_t kUnityAppliedList[] = L".index.txt";
inline constexpr size_t kAppliedListMaxBytes = 1048576;

// "kest_patch_*.kpk" or "kest_patch_*.kdx", ignoring ASCII case.
bool is_pack_name(const std::wstring& file_name);
// The found pack names that no index entry names; nothing for an empty index.
std::vector<std::wstring> superseded_packs(const std::vector<PatchEntry>& index, const std::vector<std::wstring>& found);
// Deletes the superseded packs of root\pack; returns how many went.
int prune_packs(const std::vector<PatchEntry>& index, const std::wstring& root);

// Safe, with no "." component and no empty component.
bool is_prunable_path(const std::wstring& path);
// Old paths that the new index no longer names (case and separator blind); nothing when
// either list is empty.
std::vector<std::wstring> dropped_paths(const std::vector<PatchEntry>& old_entries,
                                        const std::vector<PatchEntry>& new_entries);
int prune_unity(const std::vector<PatchEntry>& old_entries, const std::vector<PatchEntry>& new_entries,
                const std::wstring& root);
// The entries of root\.index.txt (at most its first 1 MiB); nullopt when it cannot be read.
std::optional<std::vector<PatchEntry>> read_applied_list(const std::wstring& root);

}  // namespace kpatch
