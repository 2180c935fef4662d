// Fills the printf-style placeholders of a table text (%s, %d, %%) from typed arguments.
// Unlike swprintf it cannot misread a translated format: a placeholder without an argument
// becomes empty, and any other "%" sequence is copied as it stands.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace kpatch {

using FormatArg = std::variant<std::int64_t, std::wstring_view>;

inline constexpr size_t kMaxFormattedChars = 1023;

// Fills %s and %d in order; the result is cut at 1023 characters.
std::wstring format_text(std::wstring_view format, std::initializer_list<FormatArg> args);

}  // namespace kpatch
