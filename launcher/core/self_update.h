// The launcher replacing itself with the verified "<name>.update" entry of the V1 index.
#pragma once

#include "launcher/patch/update_index.h"

#include <string>
#include <vector>

namespace kpatch {

inline constexpr wchar_t kSelfUpdatedVariable[] = L"KEST_LAUNCHER_SELF_UPDATED";

enum SelfUpdateResult : int { SelfUpdateNothing = 0, SelfUpdateInstalled = 1, SelfUpdateFailed = 2 };

// "launcher.exe" -> "launcher.update"; a name without ".exe" gets ".update" appended.
std::wstring update_entry_name(const std::wstring& own_file_name);

// Swaps the running launcher (launcher_path) for root\<update entry> when they differ:
// the running file goes to ".old", the verified copy comes in through ".new", and every
// failure after the rename puts ".old" back.
int self_update(const std::wstring& root, const std::wstring& launcher_path, const std::vector<PatchEntry>& index,
                std::wstring* error, DWORD* win_error = nullptr);

// Deletes "<launcher path>.old" left by a swap (retrying while the old process ends).
void remove_old_launcher();
void remove_old_launcher(const std::wstring& launcher_path);

std::wstring own_launcher_path();  // GetModuleFileNameW

}  // namespace kpatch
