// The worker's contract with the window and the gate, around a placeholder pass: it
// walks the progress bars in steps, stops between steps when the window closes, and ends
// with Play enabled. The patch engine's passes take the placeholder's place.
#include "launcher/core/patch_worker.h"

#include "common/debug_log.h"
#include "common/localization.h"
#include "launcher/status/maintenance_gate.h"

#include <windows.h>

#include <cstdio>

namespace kpatch {
namespace {

// Returns false when stopped before the end.
bool placeholder_pass(ProcessState& state, IPatcherUI* ui, bool repair) {
    ui->set_busy(true);
    ui->set_status_text(ui_text(13));
    for (int step = 1; step <= kWorkerSteps; ++step) {
        if (state.stopping) return false;
        Sleep(kWorkerStepMs);
        ui->set_file_progress(step * 100 / kWorkerSteps);
        ui->set_total_progress(step * 100 / kWorkerSteps);
    }
    return !state.stopping;
}

}  // namespace

void patch_worker(ProcessState& state, IPatcherUI* ui, bool repair, bool play, bool use_v2) {
    try {
        if (MaintenanceGate* gate = state.active_gate.load()) gate->suspend();
        ui->set_tools_enabled(false);
        ui->set_play_enabled(false);
        ui->set_file_progress(0);
        ui->set_total_progress(0);

        wchar_t line[96];
        std::swprintf(line, 96, L"worker: repair=%d play=%d v2=%d", repair, play, use_v2);
        debug_line(line);

        if (placeholder_pass(state, ui, repair)) {
            debug_line(L"worker: pass finished");
            const std::wstring ready = L"No patch server configured yet: placeholder pass finished.";
            if (MaintenanceGate* gate = state.active_gate.load())
                gate->start(ready, state.warning_text, ServerStatus{}, false);
            else {
                ui->set_status_text(ready);
                ui->set_play_enabled(true);
            }
        } else {
            debug_line(L"worker: stopped");
        }
    } catch (...) {
        debug_line(L"worker: unexpected exception");
    }
    ui->set_busy(false);
    ui->set_tools_enabled(true);
    state.worker_busy = false;
}

}  // namespace kpatch
