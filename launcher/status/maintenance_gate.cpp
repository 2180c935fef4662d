#include "launcher/status/maintenance_gate.h"

namespace kpatch {

MaintenanceGate::MaintenanceGate(IPatcherUI* ui, std::wstring status_url, std::function<bool()> skip_poll,
                                 int poll_interval, int jitter)
    : ui_(ui), status_url_(std::move(status_url)), skip_poll_(std::move(skip_poll)), poll_interval_(poll_interval),
      jitter_(jitter) {}

MaintenanceGate::~MaintenanceGate() { stop(); }

void MaintenanceGate::start(const std::wstring& ready_text, const std::wstring& warning_text, const ServerStatus&,
                            bool) {
    std::lock_guard lock(mutex_);
    if (stop_requested_) return;
    started_ = true;
    ui_->set_status_text(warning_text.empty() ? ready_text : warning_text);
    ui_->set_play_enabled(true);
}

void MaintenanceGate::suspend() {
    std::lock_guard lock(mutex_);
    started_ = false;
}

void MaintenanceGate::stop() {
    std::lock_guard lock(mutex_);
    stop_requested_ = true;
}

}  // namespace kpatch
