#include "common/debug_log.h"

#include <windows.h>

#include <mutex>

namespace kpatch {
namespace {

std::mutex& sink_mutex() {
    static std::mutex m;
    return m;
}

std::function<void(const std::wstring&)>& sink() {
    static std::function<void(const std::wstring&)> s;
    return s;
}

}  // namespace

void debug_line(std::wstring_view text) {
    std::wstring line = L"[kestpatcher] ";
    line.append(text);
    line.push_back(L'\n');
    OutputDebugStringW(line.c_str());
    std::lock_guard lock(sink_mutex());
    if (sink()) sink()(line);
}

void set_debug_sink(std::function<void(const std::wstring&)> s) {
    std::lock_guard lock(sink_mutex());
    sink() = std::move(s);
}

}  // namespace kpatch
