// The launcher window. This is a plain stand-in: it shows the status text, the two
// progress bars and Play / Repair, drawn with GDI, and implements the engine's interfaces
// with the real threading contract (setters copy under one mutex and post WM_APP + 1).
#pragma once

#include "launcher/core/patcher_ui.h"
#include "launcher/status/maintenance_info.h"

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>

namespace kpatch {

class LauncherUI : public IPatcherUI, public IMaintenanceView {
public:
    static constexpr wchar_t kWindowClass[] = L"KestLauncherWindow";
    static constexpr UINT kMsgStateChanged = WM_APP + 1;
    static constexpr UINT kMsgAsk = WM_APP + 2;
    static constexpr UINT kMsgMaintenance = WM_APP + 4;

    LauncherUI() = default;
    ~LauncherUI() override;

    bool create(HINSTANCE instance) override;
    void show() override;
    void set_status_text(const std::wstring& text) override;
    void set_total_progress(int percent) override;
    void set_file_progress(int percent) override;
    void set_play_enabled(bool enabled) override;
    void set_maintenance_lock(bool locked) override;
    void request_attention() override;
    void set_busy(bool busy) override;
    void set_tools_enabled(bool enabled) override;
    bool ask(const std::wstring& caption, const std::wstring& question) override;
    void set_button_handler(std::function<void(UiButton)> handler) override;
    void set_alpha_state(int mode, const std::wstring& text) override;
    void set_client_choice(bool v2) override;
    int run() override;
    void quit(int exit_code) override;

    void show_maintenance(const MaintenanceInfo& info) override;
    void set_refresh_handler(std::function<void()> handler) override;

private:
    struct Shared {
        std::wstring status_text;
        int total_percent = 0;
        int file_percent = 0;
        int exit_code = 0;
        bool play_enabled = false;
        bool maintenance_lock = false;
        bool busy = false;
        bool tools_enabled = false;
        int alpha_mode = 0;
        std::wstring alpha_text;
        bool client_v2 = false;
        MaintenanceInfo maintenance;
    };
    struct AskRecord {
        const std::wstring* caption;
        const std::wstring* text;
        bool answer;
    };

    static LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    template <class F>
    void update(F&& change);
    void paint(HDC dc, const RECT& client);
    void click(POINT pt);

    HINSTANCE instance_ = nullptr;
    HWND window_ = nullptr;
    HFONT font_ = nullptr;
    std::mutex mutex_;
    Shared shared_;
    std::function<void(UiButton)> button_handler_;
    std::function<void()> refresh_handler_;
};

}  // namespace kpatch
