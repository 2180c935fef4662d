// UTF-8 <-> UTF-16 conversions (Windows CP_UTF8 both ways; never lossy for valid input).
#pragma once

#include <string>
#include <string_view>

namespace kpatch {

std::string to_utf8(std::wstring_view text);
std::wstring from_utf8(std::string_view text);

}  // namespace kpatch
