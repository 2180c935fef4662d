// The server status record and its reader. status.json is written by the operator's tools
// and read here by a key scanner over the raw bytes, not a JSON parser: each key is found
// as the first occurrence of its quoted name anywhere in the text, and its value is read
// from the first colon after it. Missing or malformed values keep what the record held.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kpatch {

inline constexpr std::uint64_t kStatusMaxBytes = 65536;

struct ServerStatus {
    bool maintenance = false;
    std::int64_t starts_at = 0;  // Unix seconds
    std::int64_t ends_at = 0;
    std::int64_t opens_at = 0;   // never negative
    std::wstring reason;         // in the UI language when the document has it
    std::wstring phase;
    std::int32_t step = 0;       // 1..9, 0 when absent or out of range
    std::string changelog_version;  // UTF-8
    std::string changelog_url;      // UTF-8
    std::array<std::int64_t, 4> steps_done_at{};  // Unix seconds, 0 for not done
    std::string raw;             // the document as downloaded
    bool v2_alpha = false;
};

// Downloads status.json (at most kStatusMaxBytes) and reads it into out, which starts from
// the defaults. False when the download failed; out then holds the defaults.
bool fetch_status(const std::wstring& url, ServerStatus& out);

// Reads the document into out; reason prefers the entry of language_code in reason_i18n.
void read_status(std::string_view text, ServerStatus& out, std::wstring_view language_code);
// The same in the current UI language.
void read_status(std::string_view text, ServerStatus& out);

}  // namespace kpatch
