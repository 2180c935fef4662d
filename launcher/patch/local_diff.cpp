#include "launcher/patch/local_diff.h"

#include "common/localization.h"
#include "common/text_format.h"
#include "common/unique_handle.h"
#include "launcher/patch/md5.h"
#include "launcher/patch/target.h"

#include <windows.h>

#include <map>
#include <memory>
#include <unordered_map>

namespace kpatch {
namespace {

// Sizes and times of the index's files. A folder that holds many entries is listed once
// (one directory read instead of one query per file, which is what keeps an ordinary start
// fast); a name the listing does not show is asked for on its own, exactly as before.
class LocalFacts {
public:
    LocalFacts(const std::vector<PatchEntry>& index, const std::wstring& root)
        : index_(index), root_(root), found_(index.size(), 0), facts_(index.size()) {
        std::map<std::wstring, std::vector<size_t>> by_folder;
        for (size_t i = 0; i < index.size(); ++i) by_folder[folder_of(index[i].path)].push_back(i);
        for (const auto& [folder, entries] : by_folder)
            if (entries.size() >= kListAtEntries) list(folder, entries);
    }

    bool get(size_t i, std::int64_t& size, std::int64_t& mtime) const {
        if (found_[i]) {
            size = facts_[i].first;
            mtime = facts_[i].second;
            return true;
        }
        return local_file_facts(entry_local_path(root_, index_[i].path), size, mtime);
    }

private:
    static constexpr size_t kListAtEntries = 8;
    using Facts = std::pair<std::int64_t, std::int64_t>;

    static std::wstring folder_of(const std::wstring& path) {
        size_t slash = path.find_last_of(L"\\/");
        return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
    }
    static std::wstring upper(std::wstring s) {
        if (!s.empty()) CharUpperBuffW(s.data(), static_cast<DWORD>(s.size()));
        return s;
    }

    void list(const std::wstring& folder, const std::vector<size_t>& entries) {
        std::wstring pattern = (folder.empty() ? root_ : entry_local_path(root_, folder)) + L"\\*";
        WIN32_FIND_DATAW fd;
        unique_find find(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr,
                                          FIND_FIRST_EX_LARGE_FETCH));
        if (!find) return;
        std::unordered_map<std::wstring, Facts> files;
        do {
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            std::int64_t size = (static_cast<std::int64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
            std::int64_t mtime = (static_cast<std::int64_t>(fd.ftLastWriteTime.dwHighDateTime) << 32) |
                                 fd.ftLastWriteTime.dwLowDateTime;
            files.emplace(upper(fd.cFileName), Facts{size, mtime});
        } while (FindNextFileW(find.get(), &fd));
        for (size_t i : entries) {
            const std::wstring& path = index_[i].path;
            auto it = files.find(upper(path.substr(folder.empty() ? 0 : folder.size() + 1)));
            if (it == files.end()) continue;
            found_[i] = 1;
            facts_[i] = it->second;
        }
    }

    const std::vector<PatchEntry>& index_;
    const std::wstring& root_;
    std::vector<char> found_;
    std::vector<Facts> facts_;
};

}  // namespace

std::string file_md5_hex(const std::wstring& path, const std::function<bool(std::int64_t)>& progress) {
    unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return {};
    auto block = std::make_unique<char[]>(kHashBlockBytes);
    Md5 md5;
    std::int64_t done = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), block.get(), static_cast<DWORD>(kHashBlockBytes), &got, nullptr)) return {};
        if (got == 0) break;
        md5.update(block.get(), got);
        done += got;
        if (progress && !progress(done)) return {};
    }
    return md5.finish_hex();
}

std::vector<PatchEntry> diff_local(const std::vector<PatchEntry>& index, const std::wstring& root, HashCache& cache,
                                   bool repair, const CheckProgress& progress) {
    struct ToHash {
        size_t entry;
        std::int64_t mtime;
    };
    std::vector<char> download(index.size(), 0);
    std::vector<ToHash> to_hash;
    std::int64_t total = 0;
    const LocalFacts facts(index, root);
    for (size_t i = 0; i < index.size(); ++i) {
        const PatchEntry& e = index[i];
        std::int64_t size = 0, mtime = 0;
        if (!facts.get(i, size, mtime) || size != e.size) {
            download[i] = 1;
            continue;
        }
        if (!repair) {
            auto it = cache.find(cache_key(e.path));
            if (it != cache.end() && it->second.size == size && it->second.mtime == mtime) {
                download[i] = !hash_equals(it->second.hash, e.hash);
                continue;
            }
        }
        to_hash.push_back({i, mtime});
        total += size;
    }

    std::int64_t done = 0;
    for (const ToHash& h : to_hash) {
        const PatchEntry& e = index[h.entry];
        if (progress && !progress(e.path, 0, e.size, done, total)) return {};
        bool cancelled = false;
        std::string hash = file_md5_hex(entry_local_path(root, e.path), [&](std::int64_t read) {
            if (progress && !progress(e.path, read, e.size, done + read, total)) {
                cancelled = true;
                return false;
            }
            return true;
        });
        if (cancelled) return {};
        done += e.size;
        if (hash.empty()) {
            download[h.entry] = 1;
            continue;
        }
        cache[cache_key(e.path)] = CachedHash{e.size, h.mtime, hash};
        download[h.entry] = !hash_equals(hash, e.hash);
    }

    std::vector<PatchEntry> out;
    for (size_t i = 0; i < index.size(); ++i)
        if (download[i]) out.push_back(index[i]);
    return out;
}

bool CheckProgressDisplay::operator()(const std::wstring& path, std::int64_t file_done, std::int64_t file_total,
                                      std::int64_t all_done, std::int64_t all_total) {
    if (stopping_) return false;
    int total = all_total < 1 ? 100 : static_cast<int>(all_done * 100 / all_total);
    int file = file_total < 1 ? 100 : static_cast<int>(file_done * 100 / file_total);
    if (total != last_total_ || path != last_path_) {
        const std::wstring name = last_path_component(path);
        ui_->set_status_text(format_text(ui_text(repair_ ? 15 : 14), {std::int64_t{total}, std::wstring_view(name)}));
        ui_->set_total_progress(total);
        last_total_ = total;
        last_path_ = path;
    }
    if (file != last_file_) {
        ui_->set_file_progress(file);
        last_file_ = file;
    }
    return true;
}

}  // namespace kpatch
