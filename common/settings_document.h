// settings.cfg: a line-preserving INI document. Lines that are not changed are written
// back byte for byte; saving goes through a temporary file and an atomic replace.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kpatch {

struct SettingsLine {
    enum Kind : std::int32_t { Other = 0, Section = 1, Key = 2 };
    std::int32_t kind = Other;
    std::string raw;      // the line as read, without its line end
    std::string section;  // the section the line lies in; a header's own name
    std::string key;      // trimmed (key lines)
    std::string value;    // trimmed (key lines)
    std::string indent;   // leading spaces and tabs (key lines)
    bool modified = false;
};

struct SettingsLoadError {
    enum Kind : int { None = 0, NotFound = 8, OpenFailed = 9, ReadFailed = 10 };
    int kind = None;
    DWORD win_error = 0;
};

class SettingsDocument {
public:
    // Empties the document, then reads the file. On failure the document stays empty.
    bool load(const std::wstring& path, SettingsLoadError* error = nullptr);
    // The parsing half of load, on the file's bytes.
    void parse(std::string_view bytes);

    bool loaded() const { return loaded_; }
    const std::vector<SettingsLine>& lines() const { return lines_; }

    // Index of the first key line of section/key (ASCII case-insensitive), or -1.
    int find(std::string_view section, std::string_view key) const;
    bool has_section(std::string_view section) const;
    // The value when the key line exists and its value is not empty.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    void set(std::string_view section, std::string_view key, std::string_view value);
    std::string serialize() const;
    // Atomic write: temporary file beside the target, then ReplaceFileW / MoveFileExW, with
    // up to three attempts while another process holds the file. The old file is untouched
    // on failure. error receives the last Windows error.
    bool save(const std::wstring& path, DWORD* error = nullptr) const;

private:
    std::vector<SettingsLine> lines_;
    bool loaded_ = false;
};

// A settings integer as strtol reads it (base 10, leading blanks and a sign, stops at the
// first non-digit); nullopt when there are no digits.
std::optional<long> parse_settings_int(std::string_view value);

bool ascii_iequals(std::string_view a, std::string_view b);

}  // namespace kpatch
