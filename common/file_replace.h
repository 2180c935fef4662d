// Rewriting a file the launcher owns (a cache, an applied list): the bytes go to
// path + ".tmp", which is then moved over path, so a reader sees the old file or the new
// one, never a partial one. The old file stays whenever anything fails.
#pragma once

#include <string>
#include <string_view>

namespace kpatch {

bool replace_file_contents(const std::wstring& path, std::string_view bytes);

}  // namespace kpatch
