#include "tests/support/debug_capture.h"

#include <chrono>
#include <cstring>

namespace kest_test {

DebugCapture::DebugCapture() {
    mapping_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER"));
    buffer_ready_.reset(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
    data_ready_.reset(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
    if (!mapping_ || !buffer_ready_ || !data_ready_) return;
    view_ = MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 4096);
    if (!view_) return;
    ok_ = true;
    thread_ = std::thread([this] { loop(); });
    SetEvent(buffer_ready_.get());
}

DebugCapture::~DebugCapture() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (view_) UnmapViewOfFile(view_);
}

void DebugCapture::loop() {
    int quiet = 0;
    while (!stop_) {
        if (WaitForSingleObject(data_ready_.get(), 50) != WAIT_OBJECT_0) {
            // A writer killed between taking the buffer and announcing its data leaves the
            // buffer taken, and every later writer would time out: after half a second of
            // quiet, offer the buffer again.
            if (++quiet == 10) SetEvent(buffer_ready_.get());
            continue;
        }
        quiet = 0;
        const char* p = static_cast<const char*>(view_);
        DWORD pid;
        std::memcpy(&pid, p, 4);
        std::string text(p + 4, strnlen(p + 4, 4096 - 4));
        {
            std::lock_guard lock(mutex_);
            lines_.push_back({pid, std::move(text)});
        }
        changed_.notify_all();
        SetEvent(buffer_ready_.get());
    }
}

std::vector<DebugCapture::Line> DebugCapture::lines() {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool DebugCapture::seen(DWORD pid, const std::string& text) {
    std::lock_guard lock(mutex_);
    for (const auto& l : lines_)
        if (l.pid == pid && l.text.find(text) != std::string::npos) return true;
    return false;
}

bool DebugCapture::wait_for(DWORD pid, const std::string& text, DWORD timeout_ms) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
        for (const auto& l : lines_)
            if (l.pid == pid && l.text.find(text) != std::string::npos) return true;
        return false;
    });
}

}  // namespace kest_test
