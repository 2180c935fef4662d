#include "launcher/core/patch_process.h"

#include "common/localization.h"
#include "deploy_config.h"
#include "launcher/core/button_actions.h"
#include "launcher/core/command_line.h"
#include "launcher/core/process_state.h"
#include "launcher/core/worker_control.h"
#include "launcher/patch/target.h"
#include "launcher/status/maintenance_gate.h"
#include "launcher/ui/launcher_ui.h"
#include "telemetry/pending_sends.h"

#include <windows.h>

#include <memory>
#include <vector>

namespace kpatch {
namespace {

constexpr int kGatePollSeconds = 60;
constexpr int kGateJitterSeconds = 15;

std::wstring current_directory() {
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buf.size()), buf.data());
        if (n == 0) return {};
        if (n < buf.size()) return std::wstring(buf.data(), n);
        buf.resize(n + 1);
    }
}

}  // namespace

bool patch_process() {
    ProcessState& state = process_state();

    const std::wstring settings_path = current_directory() + L"\\settings.cfg";
    seed_language(settings_path);
    choose_launcher_language(settings_path);

    auto window = std::make_unique<LauncherUI>();
    if (!window->create(GetModuleHandleW(nullptr))) return false;
    IPatcherUI* ui = window.get();
    {
        std::lock_guard lock(state.worker_mutex);
        state.worker_ui = ui;
    }

    auto gate = std::make_unique<MaintenanceGate>(
        ui, status_url(), [&state] { return state.worker_busy.load(); }, kGatePollSeconds, kGateJitterSeconds);
    state.active_gate = gate.get();
    {
        std::lock_guard lock(gate->lock());
        gate->set_on_open([&state] { start_patch_worker(state, false, false, false); });
    }

    ui->set_button_handler(make_button_handler(state, deploy::kHomePageUrl));
    ui->show();
    ui->set_client_choice(false);

    bool repair = repair_requested(split_command_line(GetCommandLineW()));
    start_patch_worker(state, repair, false, false);

    int exit_code = ui->run();

    // Shutdown: stop flag and worker join, then the gate, then the window, then at most
    // 1.5 s for telemetry still in flight.
    stop_patch_worker(state);
    state.active_gate = nullptr;
    gate.reset();
    window.reset();
    wait_for_pending_sends(1500);
    return exit_code == 0;
}

}  // namespace kpatch
