#include "launcher/status/server_status.h"

#include "common/http_client.h"
#include "common/localization.h"
#include "common/utf8.h"

#include <limits>
#include <optional>

namespace kpatch {
namespace {

constexpr auto npos = std::string_view::npos;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_alnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::size_t skip_space(std::string_view text, std::size_t pos) {
    while (pos < text.size() && is_space(text[pos])) ++pos;
    return pos;
}

// The position just after the colon that follows the first "name" in the text.
std::optional<std::size_t> find_value(std::string_view text, std::string_view quoted_name, std::size_t from = 0) {
    std::size_t at = text.find(quoted_name, from);
    if (at == npos) return std::nullopt;
    std::size_t colon = text.find(':', at);
    if (colon == npos) return std::nullopt;
    return colon + 1;
}

// _atoi64: optional sign, digits up to the first non-digit, 0 without any; saturates.
std::int64_t read_int(std::string_view text, std::size_t pos) {
    pos = skip_space(text, pos);
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    constexpr std::uint64_t limit = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    std::uint64_t value = 0;
    bool overflow = false;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        std::uint64_t digit = std::uint64_t(text[pos] - '0');
        if (value > (limit + 1 - digit) / 10) overflow = true;
        if (!overflow) value = value * 10 + digit;
    }
    if (negative) {
        if (overflow || value > limit) return std::numeric_limits<std::int64_t>::min();
        return -static_cast<std::int64_t>(value);
    }
    if (overflow || value > limit) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(value);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The four characters at pos as hex, up to the first that is not a hex digit.
std::uint32_t read_hex4(std::string_view text, std::size_t pos) {
    std::uint32_t value = 0;
    for (std::size_t i = pos; i < pos + 4; ++i) {
        int d = hex_digit(text[i]);
        if (d < 0) break;
        value = value * 16 + std::uint32_t(d);
    }
    return value;
}

void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// The string whose contents start at pos (just past its opening quote), up to the first
// unescaped quote; nothing when the text ends first. \n and \t become spaces, \uXXXX
// becomes UTF-8, and a backslash before anything else keeps that byte.
std::optional<std::string> decode_string(std::string_view text, std::size_t pos) {
    std::string out;
    while (pos < text.size()) {
        char c = text[pos++];
        if (c == '"') return out;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= text.size()) break;
        char e = text[pos++];
        if (e == 'n' || e == 't') {
            out += ' ';
        } else if (e == 'u') {
            if (text.size() - pos < 4) {
                out += 'u';
                continue;
            }
            std::uint32_t cp = read_hex4(text, pos);
            pos += 4;
            if (cp >= 0xD800 && cp <= 0xDBFF && text.size() - pos >= 6 && text[pos] == '\\' && text[pos + 1] == 'u') {
                std::uint32_t low = read_hex4(text, pos + 2);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    pos += 6;
                }
            }
            append_utf8(out, cp);
        } else {
            out += e;
        }
    }
    return std::nullopt;
}

// The string value at pos (after a colon): whitespace, then an opening quote.
std::optional<std::string> read_string_at(std::string_view text, std::size_t pos) {
    pos = skip_space(text, pos);
    if (pos >= text.size() || text[pos] != '"') return std::nullopt;
    return decode_string(text, pos + 1);
}

std::optional<std::string> read_string(std::string_view text, std::string_view quoted_name) {
    auto at = find_value(text, quoted_name);
    if (!at) return std::nullopt;
    return read_string_at(text, *at);
}

void read_wide(std::string_view text, std::string_view quoted_name, std::wstring& field) {
    if (auto value = read_string(text, quoted_name)) {
        std::wstring wide = from_utf8(*value);
        if (!wide.empty()) field = std::move(wide);
    }
}

void read_steps(std::string_view text, std::size_t pos, std::array<std::int64_t, 4>& steps) {
    pos = skip_space(text, pos);
    if (pos >= text.size() || text[pos] != '[') return;
    std::size_t close = text.find(']', pos + 1);
    if (close == npos) return;
    ++pos;
    for (auto& slot : steps) {
        std::int64_t value = read_int(text, pos);
        slot = value < 1 ? 0 : value;
        std::size_t comma = text.find(',', pos);
        if (comma == npos || comma > close) break;
        pos = comma + 1;
    }
}

// The language's entry in "reason_i18n": the quoted code must come before the first '}'
// after the key.
std::optional<std::wstring> localized_reason(std::string_view text, std::wstring_view language_code) {
    if (language_code.empty()) return std::nullopt;
    std::size_t key = text.find("\"reason_i18n\"");
    if (key == npos) return std::nullopt;
    std::size_t brace = text.find('}', key);
    std::string quoted = "\"" + to_utf8(language_code) + "\"";
    std::size_t code = text.find(quoted, key);
    if (code == npos || brace == npos || code > brace) return std::nullopt;
    auto at = find_value(text, quoted, code);
    if (!at) return std::nullopt;
    auto value = read_string_at(text, *at);
    if (!value) return std::nullopt;
    std::wstring wide = from_utf8(*value);
    if (wide.empty()) return std::nullopt;
    return wide;
}

}  // namespace

void read_status(std::string_view text, ServerStatus& out, std::wstring_view language_code) {
    if (auto at = find_value(text, "\"maintenance\"")) {
        std::size_t comma = text.find(',', *at);
        std::size_t t = text.find("true", *at);
        out.maintenance = t != npos && (comma == npos || t < comma);
    }
    if (auto at = find_value(text, "\"v2Alpha\"")) {
        std::size_t p = skip_space(text, *at);
        out.v2_alpha = text.substr(p, 4) == "true" && (p + 4 == text.size() || !is_alnum(text[p + 4]));
    }
    if (auto at = find_value(text, "\"starts_at\"")) out.starts_at = read_int(text, *at);
    if (auto at = find_value(text, "\"ends_at\"")) out.ends_at = read_int(text, *at);
    if (auto at = find_value(text, "\"opens_at\"")) {
        std::int64_t v = read_int(text, *at);
        out.opens_at = v < 0 ? 0 : v;
    }
    if (auto at = find_value(text, "\"step\"")) {
        std::int64_t v = read_int(text, *at);
        out.step = v >= 1 && v <= 9 ? std::int32_t(v) : 0;
    }
    read_wide(text, "\"reason\"", out.reason);
    read_wide(text, "\"phase\"", out.phase);
    if (auto v = read_string(text, "\"changelog_version\"")) out.changelog_version = std::move(*v);
    if (auto v = read_string(text, "\"changelog_url\"")) out.changelog_url = std::move(*v);
    if (auto at = find_value(text, "\"steps_done_at\"")) read_steps(text, *at, out.steps_done_at);
    if (auto reason = localized_reason(text, language_code)) out.reason = std::move(*reason);
    out.raw = std::string(text);
}

void read_status(std::string_view text, ServerStatus& out) { read_status(text, out, current_language_code()); }

bool fetch_status(const std::wstring& url, ServerStatus& out) {
    out = ServerStatus{};
    std::string body;
    std::wstring error;
    if (!http_get_buffer(url, body, &error, kStatusMaxBytes)) return false;
    read_status(body, out);
    return true;
}

}  // namespace kpatch
