#include "launcher/core/patch_worker.h"

#include "common/debug_log.h"
#include "common/localization.h"
#include "launcher/core/client_choice.h"
#include "launcher/core/launch.h"
#include "launcher/core/patch_pass.h"
#include "launcher/core/patch_process.h"
#include "launcher/core/self_update.h"
#include "launcher/status/maintenance_gate.h"

#include <cstdio>

namespace kpatch {
namespace {

void v1_update(ProcessState& state, IPatcherUI* ui, bool repair, bool play) {
    bool completed = false;
    run_passes(state, ui, repair, legacy_target, completed);
    if (!completed || state.stopping) return;
    if (state.v2_alpha_open) {
        bool unity = read_client_choice();
        ui->set_client_choice(unity);
        if (!play && unity)
            run_v2_pass(state, ui, repair);
        else
            probe_v2_build(ui);
    } else {
        if (read_client_choice()) {
            debug_line(L"v2Alpha flag off: the saved client=unity is reset to legacy");
            write_client_choice(false);
        }
        ui->set_client_choice(false);
        ui->set_alpha_state(3, L"");
    }
}

void v1_play(ProcessState& state, IPatcherUI* ui) {
    if (is_index_current(state, ui, legacy_target) && !state.stopping) {
        launch_game(kV1ClientExe, L"");
        ui->quit(0);
        return;
    }
    if (state.stopping) return;
    debug_line(L"Play: the published index is not the applied one -- patching first");
    ui->set_status_text(ui_text(18));
    v1_update(state, ui, false, true);
}

void v2_play(ProcessState& state, IPatcherUI* ui) {
    if (is_index_current(state, ui, unity_target) && !state.stopping) {
        const std::wstring folder = target_root(unity_target);
        const std::wstring exe = folder + L"\\" + kV2ClientExe;
        debug_line(L"Play V2 (Alpha): launching " + exe);
        if (launch_game(exe, folder)) {
            ui->quit(0);
            return;
        }
        debug_line(L"Play V2 (Alpha): CreateProcess failed -- re-checking the Unity tree");
    }
    if (state.stopping) return;
    debug_line(L"Play V2 (Alpha): the Unity tree is not the published index -- patching it first");
    run_v2_pass(state, ui, false);
}

}  // namespace

void patch_worker(ProcessState& state, IPatcherUI* ui, bool repair, bool play, bool use_v2) {
    try {
        if (MaintenanceGate* gate = state.active_gate.load()) gate->suspend();
        ui->set_tools_enabled(false);
        ui->set_play_enabled(false);
        ui->set_file_progress(0);
        ui->set_total_progress(0);
        remove_old_launcher();

        wchar_t line[96];
        std::swprintf(line, 96, L"worker: repair=%d play=%d v2=%d", repair, play, use_v2);
        debug_line(line);

        if (use_v2 && !state.v2_alpha_open) {
            debug_line(L"V2 (Alpha) requested while the v2Alpha flag is off -- V1 (Stable)");
            write_client_choice(false);
            ui->set_client_choice(false);
            if (play) v1_play(state, ui);
        } else if (play && !use_v2) {
            v1_play(state, ui);
        } else if (use_v2 && play) {
            v2_play(state, ui);
        } else if (use_v2) {
            debug_line(L"V2 (Alpha) chosen -- checking the Unity tree");
            run_v2_pass(state, ui, repair);
        } else {
            v1_update(state, ui, repair, play);
        }
    } catch (...) {
        debug_line(L"worker: unexpected exception");
    }
    ui->set_busy(false);
    ui->set_tools_enabled(true);
    state.worker_busy = false;
}

}  // namespace kpatch
