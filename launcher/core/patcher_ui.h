// The only seam between the launcher's engine and its window. The engine, the
// maintenance gate and the pre-launch checks call these; the window implements them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace kpatch {

struct MaintenanceInfo;

// What the window reports back through the button handler. 1 is never sent.
enum UiButton : std::int32_t {
    Play = 0,      // Play while V1 (Stable) is the chosen client
    Discord = 2,   // the Discord link
    Facebook = 3,  // the Facebook link
    Website = 4,   // the Website link
    Repair = 5,    // "Repair game files"
    PlayV2 = 6,    // Play while V2 (Alpha) is the chosen client
    ChooseV1 = 7,  // V1 (Stable) picked in the client chooser
    ChooseV2 = 8,  // V2 (Alpha) picked in the client chooser
};

// Setters (status text to client choice) may be called from any thread: they copy their
// arguments under the window's mutex and post a repaint, never waiting for the UI thread.
class IPatcherUI {
public:
    virtual ~IPatcherUI() = default;                        // main thread, after run and the worker join
    virtual bool create(HINSTANCE instance) = 0;            // main thread
    virtual void show() = 0;                                // main thread
    virtual void set_status_text(const std::wstring& text) = 0;
    virtual void set_total_progress(int percent) = 0;       // clamped to 0..100; ends the busy animation
    virtual void set_file_progress(int percent) = 0;        // clamped to 0..100
    virtual void set_play_enabled(bool enabled) = 0;
    virtual void set_maintenance_lock(bool locked) = 0;
    virtual void request_attention() = 0;
    virtual void set_busy(bool busy) = 0;
    virtual void set_tools_enabled(bool enabled) = 0;
    // Worker threads only: a modal yes/no question; blocks until answered; false without a window.
    virtual bool ask(const std::wstring& caption, const std::wstring& question) = 0;
    // Once, before run. The handler runs on the UI thread and must not block.
    virtual void set_button_handler(std::function<void(UiButton)> handler) = 0;
    // V2 availability: 0 unknown, 1 published (text = build label; empty keeps the
    // previous label), 2 not published, 3 switched off by the server.
    virtual void set_alpha_state(int mode, const std::wstring& text) {}
    virtual void set_client_choice(bool v2) {}
    virtual int run() = 0;                                  // main thread: the message loop
    virtual void quit(int exit_code) = 0;                   // any thread: closes the window; run returns the code
};

// The window's second face, for the maintenance gate.
class IMaintenanceView {
public:
    virtual ~IMaintenanceView() = default;
    virtual void show_maintenance(const MaintenanceInfo& info) = 0;
    // The view calls the handler when its texts must be rebuilt; an empty one removes it.
    virtual void set_refresh_handler(std::function<void()> handler) = 0;
};

}  // namespace kpatch
