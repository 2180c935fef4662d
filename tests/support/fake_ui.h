// A recording IPatcherUI for in-process engine tests: every call is appended to a log.
#pragma once

#include "launcher/core/patcher_ui.h"

#include <mutex>
#include <string>
#include <vector>

namespace kest_test {

class FakeUI : public kpatch::IPatcherUI {
public:
    bool create(HINSTANCE) override { return log("create"), true; }
    void show() override { log("show"); }
    void set_status_text(const std::wstring& text) override {
        std::lock_guard lock(mutex_);
        status_ = text;
        calls_.push_back("status");
    }
    void set_total_progress(int p) override { log("total " + std::to_string(p)); }
    void set_file_progress(int p) override { log("file " + std::to_string(p)); }
    void set_play_enabled(bool on) override { log(on ? "play on" : "play off"); }
    void set_maintenance_lock(bool on) override { log(on ? "lock on" : "lock off"); }
    void request_attention() override { log("attention"); }
    void set_busy(bool on) override { log(on ? "busy on" : "busy off"); }
    void set_tools_enabled(bool on) override { log(on ? "tools on" : "tools off"); }
    bool ask(const std::wstring&, const std::wstring&) override { return log("ask"), false; }
    void set_button_handler(std::function<void(kpatch::UiButton)> h) override { handler = std::move(h); }
    int run() override { return 0; }
    void quit(int code) override { log("quit " + std::to_string(code)); }

    std::vector<std::string> calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::wstring status() {
        std::lock_guard lock(mutex_);
        return status_;
    }
    std::function<void(kpatch::UiButton)> handler;

private:
    void log(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::mutex mutex_;
    std::vector<std::string> calls_;
    std::wstring status_;
};

}  // namespace kest_test
