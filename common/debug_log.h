// Developer diagnostics: lines on the debugger output (OutputDebugStringW), each
// "[kestpatcher] " + text + LF. There is no log file.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kpatch {

// Any thread. Writes "[kestpatcher] " + text + "\n".
void debug_line(std::wstring_view text);

// For in-process tests: every line written by debug_line is also handed to the sink
// (the whole line, prefix and LF included). An empty function removes it. Any thread.
void set_debug_sink(std::function<void(const std::wstring&)> sink);

}  // namespace kpatch
