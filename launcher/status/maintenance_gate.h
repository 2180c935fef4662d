// The maintenance gate: holds Play while the server is in maintenance and shows the
// countdown. This version has the gate's surface only (construct, start, suspend, stop,
// the opened callback): start shows the ready text and enables Play, nothing is polled.
#pragma once

#include "launcher/core/patcher_ui.h"
#include "launcher/status/server_status.h"

#include <functional>
#include <mutex>
#include <string>

namespace kpatch {

class MaintenanceGate {
public:
    MaintenanceGate(IPatcherUI* ui, std::wstring status_url, std::function<bool()> skip_poll, int poll_interval,
                    int jitter);
    ~MaintenanceGate();
    MaintenanceGate(const MaintenanceGate&) = delete;
    MaintenanceGate& operator=(const MaintenanceGate&) = delete;

    // Worker thread, at the end of a successful pass.
    void start(const std::wstring& ready_text, const std::wstring& warning_text, const ServerStatus& status,
               bool have_status);
    // Worker thread, when a pass begins.
    void suspend();
    // Main thread, at exit; the destructor calls it too.
    void stop();

    // The callback run once when the Play lock lifts. Set it under lock() before the first start.
    std::mutex& lock() { return mutex_; }
    void set_on_open(std::function<void()> on_open) { on_open_ = std::move(on_open); }

private:
    IPatcherUI* ui_;
    std::wstring status_url_;
    std::function<bool()> skip_poll_;
    int poll_interval_, jitter_;
    std::mutex mutex_;
    std::function<void()> on_open_;
    bool started_ = false;
    bool stop_requested_ = false;
};

}  // namespace kpatch
