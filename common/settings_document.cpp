#include "common/settings_document.h"

#include "common/unique_handle.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace kpatch {
namespace {

bool is_trim_char(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_trim_char(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_trim_char(s.back())) s.remove_suffix(1);
    return s;
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool retryable(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_UNABLE_TO_REMOVE_REPLACED:
        case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
        case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:
        case ERROR_USER_MAPPED_FILE:
            return true;
        default:
            return false;
    }
}

std::atomic<unsigned long> temp_counter{0};

// One write attempt of text to a fresh temporary file and its move over target.
DWORD try_save(const std::wstring& target, const std::string& text) {
    wchar_t suffix[64];
    std::swprintf(suffix, 64, L".%lu.%ld.tmp", GetCurrentProcessId(), static_cast<long>(++temp_counter));
    std::wstring temp = target + suffix;

    DWORD error = 0;
    {
        unique_file file(CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return GetLastError();
        DWORD written = 0;
        if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
            error = GetLastError();
        } else if (written < text.size()) {
            error = ERROR_DISK_FULL;
        } else if (!FlushFileBuffers(file.get())) {
            error = GetLastError();
        }
        HANDLE h = file.release();
        if (!CloseHandle(h) && error == 0) error = GetLastError();
    }
    if (error == 0) {
        bool target_exists = GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (target_exists) {
            if (ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_WRITE_THROUGH, nullptr, nullptr))
                return 0;
            error = GetLastError();
        }
        if (MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
        if (!target_exists) error = GetLastError();
    }
    DeleteFileW(temp.c_str());
    return error != 0 ? error : ERROR_GEN_FAILURE;
}

}  // namespace

bool ascii_iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

std::optional<long> parse_settings_int(std::string_view value) {
    std::string s(value);
    const char* begin = s.c_str();
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(begin, &end, 10);
    if (end == begin) return std::nullopt;
    return v;
}

void SettingsDocument::parse(std::string_view bytes) {
    lines_.clear();
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);

    std::string current;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t lf = bytes.find('\n', pos);
        bool terminated = lf != std::string_view::npos;
        std::string_view line = bytes.substr(pos, terminated ? lf - pos : std::string_view::npos);
        pos = terminated ? lf + 1 : bytes.size();
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!terminated && line.empty()) break;

        SettingsLine out;
        out.raw = std::string(line);
        std::string_view t = trim(line);
        size_t close = t.find(']');
        if (t.empty() || t.front() == ';' || t.front() == '#') {
            out.kind = SettingsLine::Other;
        } else if (t.front() == '[' && close != std::string_view::npos) {
            out.kind = SettingsLine::Section;
            current = std::string(trim(t.substr(1, close - 1)));
        } else if (size_t eq = line.find('='); eq != std::string_view::npos) {
            out.kind = SettingsLine::Key;
            out.key = std::string(trim(line.substr(0, eq)));
            out.value = std::string(trim(line.substr(eq + 1)));
            size_t ind = line.find_first_not_of(" \t");
            out.indent = std::string(line.substr(0, ind == std::string_view::npos ? line.size() : ind));
        }
        out.section = current;
        lines_.push_back(std::move(out));
    }
}

bool SettingsDocument::load(const std::wstring& path, SettingsLoadError* error) {
    lines_.clear();
    loaded_ = false;
    auto fail = [&](int kind, DWORD code) {
        lines_.clear();
        if (error) *error = SettingsLoadError{kind, code};
        return false;
    };
    unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD code = GetLastError();
        bool missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        return fail(missing ? SettingsLoadError::NotFound : SettingsLoadError::OpenFailed, code);
    }
    std::string bytes;
    char chunk[8192];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr))
            return fail(SettingsLoadError::ReadFailed, GetLastError());
        if (got == 0) break;
        bytes.append(chunk, got);
    }
    parse(bytes);
    loaded_ = true;
    if (error) *error = SettingsLoadError{};
    return true;
}

int SettingsDocument::find(std::string_view section, std::string_view key) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        const SettingsLine& l = lines_[i];
        if (l.kind == SettingsLine::Key && ascii_iequals(l.section, section) && ascii_iequals(l.key, key))
            return static_cast<int>(i);
    }
    return -1;
}

bool SettingsDocument::has_section(std::string_view section) const {
    for (const SettingsLine& l : lines_)
        if (l.kind == SettingsLine::Section && ascii_iequals(l.section, section)) return true;
    return false;
}

std::optional<std::string> SettingsDocument::value(std::string_view section, std::string_view key) const {
    int i = find(section, key);
    if (i < 0 || lines_[i].value.empty()) return std::nullopt;
    return lines_[i].value;
}

void SettingsDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    if (int i = find(section, key); i >= 0) {
        lines_[i].value = std::string(value);
        lines_[i].modified = true;
        return;
    }
    SettingsLine line;
    line.kind = SettingsLine::Key;
    line.section = std::string(section);
    line.key = std::string(key);
    line.value = std::string(value);
    line.modified = true;

    if (has_section(section)) {
        int last_key = -1, last_header = -1;
        for (size_t i = 0; i < lines_.size(); ++i) {
            if (!ascii_iequals(lines_[i].section, section)) continue;
            if (lines_[i].kind == SettingsLine::Key) last_key = static_cast<int>(i);
            if (lines_[i].kind == SettingsLine::Section) last_header = static_cast<int>(i);
        }
        int after = last_key >= 0 ? last_key : last_header;
        lines_.insert(lines_.begin() + after + 1, std::move(line));
        return;
    }
    SettingsLine header;
    header.kind = SettingsLine::Section;
    header.raw = "[" + std::string(section) + "]";
    header.section = std::string(section);
    lines_.push_back(std::move(header));
    lines_.push_back(std::move(line));
}

std::string SettingsDocument::serialize() const {
    std::string out;
    for (const SettingsLine& l : lines_) {
        if (l.kind == SettingsLine::Key && l.modified)
            out += l.indent + l.key + "=" + l.value;
        else
            out += l.raw;
        out += "\r\n";
    }
    return out;
}

bool SettingsDocument::save(const std::wstring& path, DWORD* error) const {
    const std::string text = serialize();
    DWORD last = 0;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        last = try_save(path, text);
        if (last == 0) break;
        if (attempt == 3 || !retryable(last)) break;
        Sleep(60u << (attempt - 1));
    }
    if (error) *error = last;
    return last == 0;
}

}  // namespace kpatch
