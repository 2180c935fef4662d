#include "launcher/patch/hash_cache.h"

#include "common/file_replace.h"
#include "common/unique_handle.h"

#include <windows.h>

#include <set>

namespace kpatch {
namespace {

bool parse_digits(std::string_view s, std::int64_t& out) {
    if (s.empty() || s.size() > 20) return false;
    std::uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        std::uint64_t next = v * 10 + static_cast<std::uint64_t>(c - '0');
        if (next / 10 != v) return false;  // overflow
        v = next;
    }
    if (v > static_cast<std::uint64_t>(INT64_MAX)) return false;
    out = static_cast<std::int64_t>(v);
    return true;
}

bool is_md5_hex(std::string_view s) {
    if (s.size() != 32) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool hash_equals(std::string_view a, std::string_view b) { return ascii_lower(a) == ascii_lower(b); }

std::string cache_key(std::wstring_view path) {
    std::string key;
    for (size_t i = 0; i < path.size(); ++i) {
        std::uint32_t c = path[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < path.size() && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (path[i + 1] - 0xDC00);
            ++i;
        } else if (c == L'/') {
            c = L'\\';
        } else if (c >= L'A' && c <= L'Z') {
            c = c - L'A' + L'a';
        }
        append_utf8(key, c);  // an unpaired surrogate becomes its own three bytes
    }
    return key;
}

HashCache parse_hash_cache(std::string_view bytes) {
    HashCache cache;
    bool first = true;
    size_t pos = 0;
    while (pos <= bytes.size()) {
        size_t lf = bytes.find('\n', pos);
        std::string_view line = bytes.substr(pos, lf == std::string_view::npos ? bytes.npos : lf - pos);
        pos = lf == std::string_view::npos ? bytes.size() + 1 : lf + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (first) {
            if (line != kHashCacheHeader) return {};
            first = false;
            continue;
        }
        if (line.empty()) continue;
        std::string_view fields[4];
        size_t start = 0;
        int n = 0;
        bool bad = false;
        for (;;) {
            size_t tab = line.find('\t', start);
            if (n == 4) {
                bad = true;
                break;
            }
            fields[n++] = line.substr(start, tab == std::string_view::npos ? line.npos : tab - start);
            if (tab == std::string_view::npos) break;
            start = tab + 1;
        }
        if (bad || n != 4 || fields[0].empty()) continue;
        CachedHash record;
        if (!parse_digits(fields[1], record.size) || !parse_digits(fields[2], record.mtime)) continue;
        record.hash = ascii_lower(fields[3]);
        if (!is_md5_hex(record.hash)) continue;
        cache[std::string(fields[0])] = std::move(record);
    }
    return cache;
}

std::string serialize_hash_cache(const HashCache& cache) {
    std::string out = std::string(kHashCacheHeader) + "\n";
    for (const auto& [key, r] : cache)
        out += key + "\t" + std::to_string(r.size) + "\t" + std::to_string(r.mtime) + "\t" + r.hash + "\n";
    return out;
}

HashCache load_hash_cache(const std::wstring& root) {
    unique_file file(CreateFileW((root + L"\\" + kHashCacheFile).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    std::string bytes;
    char chunk[16384];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    return parse_hash_cache(bytes);
}

void save_hash_cache(const std::wstring& root, HashCache cache, const std::vector<PatchEntry>& index) {
    if (!index.empty()) {
        std::set<std::string> keep;
        for (const PatchEntry& e : index) keep.insert(cache_key(e.path));
        std::erase_if(cache, [&](const auto& item) { return !keep.count(item.first); });
    }
    replace_file_contents(root + L"\\" + kHashCacheFile, serialize_hash_cache(cache));
}

bool local_file_facts(const std::wstring& path, std::int64_t& size, std::int64_t& mtime) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    size = (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    mtime = (static_cast<std::int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return true;
}

void remember_download(HashCache& cache, const PatchEntry& entry, const std::wstring& local_path) {
    std::int64_t size, mtime;
    if (local_file_facts(local_path, size, mtime))
        cache[cache_key(entry.path)] = CachedHash{size, mtime, ascii_lower(entry.hash)};
    else
        cache.erase(cache_key(entry.path));
}

}  // namespace kpatch
