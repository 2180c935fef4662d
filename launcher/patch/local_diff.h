// Which index entries must be downloaded: missing files, wrong sizes, wrong content.
#pragma once

#include "launcher/core/patcher_ui.h"
#include "launcher/patch/hash_cache.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kpatch {

inline constexpr std::size_t kHashBlockBytes = 1048576;

// MD5 of a file in 1 MiB sequential reads; progress gets the bytes read so far after every
// block (false cancels). Empty on an open or read failure, or on cancel.
std::string file_md5_hex(const std::wstring& path, const std::function<bool(std::int64_t)>& progress = {});

// (entry path, file done, file total, all done, all total) -> false cancels.
using CheckProgress = std::function<bool(const std::wstring& path, std::int64_t file_done, std::int64_t file_total,
                                         std::int64_t all_done, std::int64_t all_total)>;

// The entries to download, in index order. Sizes decide first; a cache record with the same
// size and time decides without reading (not in a repair); everything else is hashed, and
// the cache learns every hash. A cancel returns an empty list and keeps what was learnt.
std::vector<PatchEntry> diff_local(const std::vector<PatchEntry>& index, const std::wstring& root, HashCache& cache,
                                   bool repair, const CheckProgress& progress);

// The "Checking files..." display: strings 14 / 15 with the total percent and the file's
// name, touching the window only when a percentage or the file changes.
class CheckProgressDisplay {
public:
    CheckProgressDisplay(IPatcherUI* ui, const std::atomic<bool>& stopping, bool repair)
        : ui_(ui), stopping_(stopping), repair_(repair) {}
    bool operator()(const std::wstring& path, std::int64_t file_done, std::int64_t file_total, std::int64_t all_done,
                    std::int64_t all_total);

private:
    IPatcherUI* ui_;
    const std::atomic<bool>& stopping_;
    bool repair_;
    int last_total_ = -1;
    int last_file_ = -1;
    std::wstring last_path_;
};

}  // namespace kpatch
