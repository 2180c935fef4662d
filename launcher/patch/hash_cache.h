// The hash cache (launcher.hashcache in each target root): size, last-write time and MD5
// of every file the launcher hashed or installed, so an ordinary start reads no file whose
// size and time are unchanged.
#pragma once

#include "launcher/patch/update_index.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kpatch {

struct CachedHash {
    std::int64_t size = 0;
    std::int64_t mtime = 0;  // FILETIME as one number
    std::string hash;        // lowercase hex
    bool operator==(const CachedHash&) const = default;
};

using HashCache = std::map<std::string, CachedHash>;

inline constexpr char kHashCacheHeader[] = "kest-hash-cache 1";
inline constexpr wchar_t kHashCacheFile[] = L"launcher.hashcache";

// UTF-8 of the path with "/" as "\" and ASCII letters lowered: one key for every spelling
// that names the same file.
std::string cache_key(std::wstring_view entry_path);

HashCache parse_hash_cache(std::string_view bytes);
std::string serialize_hash_cache(const HashCache& cache);

HashCache load_hash_cache(const std::wstring& root);
// Forgets records of files that left a non-empty index, then replaces the file through a
// temporary one; the old file stays whenever anything fails.
void save_hash_cache(const std::wstring& root, HashCache cache, const std::vector<PatchEntry>& index);

// Records a freshly installed file (or forgets it when it is not there).
void remember_download(HashCache& cache, const PatchEntry& entry, const std::wstring& local_path);

// Size and last-write time of a file (not a folder); false when absent.
bool local_file_facts(const std::wstring& path, std::int64_t& size, std::int64_t& mtime);

bool hash_equals(std::string_view a, std::string_view b);  // ASCII case-insensitive
std::string ascii_lower(std::string_view s);

}  // namespace kpatch
