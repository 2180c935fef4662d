// Installing the entries that differ: each file is downloaded beside its place as ".part",
// checked against the signed index, and only then moved over the old file.
#pragma once

#include "launcher/core/patcher_ui.h"
#include "launcher/patch/hash_cache.h"
#include "launcher/patch/target.h"
#include "launcher/patch/update_index.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace kpatch {

inline constexpr wchar_t kIntegrityFailed[] = L"integrity verification failed";
inline constexpr wchar_t kFileInUse[] = L"cannot replace the file \u2014 it is in use (is the game already running?)";

// What a failed final move tells the player: access denied and sharing violations mean the
// running game holds the file.
std::wstring replace_failure_text(DWORD move_error);

// Downloads url to local_path + ".part", checks its MD5 and moves it over local_path.
// A transfer that grows beyond expected_size is stopped there and fails like a corrupt
// file ("integrity verification failed"): a hostile server cannot fill the disk. No
// ".part" file is left on any failure.
bool download_entry(const std::wstring& url, const std::wstring& local_path, const std::string& expected_hash,
                    std::int64_t expected_size, const std::function<bool(std::int64_t, std::int64_t)>& progress,
                    std::wstring* error, DWORD* win_error = nullptr);

struct DownloadPhase {
    IPatcherUI* ui;
    const Target& target;
    std::wstring base_url;                 // the patch server
    std::span<const PublicKey> keys;       // for the quiet re-fetch of the index
    const std::string& index_bytes;        // the index this pass applies
    const std::vector<PatchEntry>& to_download;
    HashCache& cache;
    std::wstring root;
    int restarts_left;
    const std::atomic<bool>& stopping;
    std::wstring launcher_file_name;       // the running launcher's own name (V1 only)
};

struct DownloadOutcome {
    enum Kind { Installed, Restart, Failed, Stopped } kind = Installed;
    int downloaded = 0;
    bool launcher_replaced = false;  // V1: the launcher's own file was among them
    std::wstring failed_name;        // the last component of the failed entry
    std::wstring error;              // its error text
    DWORD win_error = 0;
    std::wstring final_text;         // string 26, for the pass's final-text path
};

DownloadOutcome run_download_phase(const DownloadPhase& phase);

}  // namespace kpatch
