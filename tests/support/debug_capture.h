// Captures the debugger output (OutputDebugString) of other processes through the
// system's DBWIN_BUFFER channel, as a debug viewer does. One capture per session at a time.
#pragma once

#include "common/unique_handle.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kest_test {

class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    bool ok() const { return ok_; }

    struct Line {
        DWORD pid;
        std::string text;
    };
    std::vector<Line> lines();
    // Waits until a line of pid contains text; true when seen.
    bool wait_for(DWORD pid, const std::string& text, DWORD timeout_ms);
    bool seen(DWORD pid, const std::string& text);

private:
    void loop();
    kpatch::unique_kernel_handle mapping_, buffer_ready_, data_ready_;
    void* view_ = nullptr;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Line> lines_;
    std::thread thread_;
};

}  // namespace kest_test
