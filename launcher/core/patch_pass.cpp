#include "launcher/core/patch_pass.h"

#include "common/debug_log.h"
#include "common/file_replace.h"
#include "common/localization.h"
#include "common/text_format.h"
#include "launcher/core/client_choice.h"
#include "launcher/core/launch.h"
#include "launcher/core/self_update.h"
#include "launcher/patch/download.h"
#include "launcher/patch/hash_cache.h"
#include "launcher/patch/local_diff.h"
#include "launcher/patch/md5.h"
#include "launcher/patch/prune.h"
#include "launcher/requirements/prelaunch_check.h"
#include "launcher/status/maintenance_gate.h"
#include "launcher/status/server_status.h"
#include "telemetry/patch_failure_report.h"

#include <windows.h>

namespace kpatch {
namespace {

struct Pass {
    ProcessState& state;
    IPatcherUI* ui;
    const Target& target;
    ServerStatus status;
    bool have_status = false;
};

std::wstring launcher_version() {
    std::string md5 = file_md5_hex(own_launcher_path());
    return md5.size() == 32 ? std::wstring(md5.begin(), md5.begin() + 12) : L"unknown";
}

// Failures of the V1 target go to telemetry; V2 failures do not.
void report(const Pass& p, const std::wstring& step, long code) {
    if (!p.target.legacy) return;
    report_patch_failure(target_root(p.target) + L"\\settings.cfg", step, code, launcher_version(),
                         current_language_code());
}

// How a pass that does not complete ends: a V2 message after an applied V1 index goes to
// the gate as its headline, so the gate's maintenance lines stay on screen.
void show_final_text(const Pass& p, const std::wstring& text) {
    debug_line(L"pass end: " + text);
    bool v1_applied;
    {
        std::lock_guard lock(p.state.applied_mutex);
        v1_applied = !p.state.applied_index_v1.empty();
    }
    MaintenanceGate* gate = p.state.active_gate.load();
    if (!p.target.legacy && v1_applied && gate)
        gate->start(text, p.state.warning_text, p.status, p.have_status);
    else
        p.ui->set_status_text(text);
}

void finish_ready(const Pass& p, const std::wstring& ready) {
    debug_line(L"pass end: " + (p.state.warning_text.empty() ? ready : p.state.warning_text));
    if (MaintenanceGate* gate = p.state.active_gate.load()) {
        gate->start(ready, p.state.warning_text, p.status, p.have_status);
    } else {
        p.ui->set_status_text(p.state.warning_text.empty() ? ready : p.state.warning_text);
        p.ui->set_play_enabled(true);
    }
}

}  // namespace

PassEnd run_patch_pass(ProcessState& state, IPatcherUI* ui, bool repair, int restarts_left, const Target& target,
                       bool* completed) {
    if (completed) *completed = false;
    ui->set_file_progress(0);
    ui->set_total_progress(0);
    ui->set_busy(true);

    Pass p{state, ui, target, {}, false};
    p.have_status = fetch_status(status_url(), p.status);
    state.v2_alpha_open = p.have_status && p.status.v2_alpha;

    if (!target.legacy && !state.v2_alpha_open) {
        debug_line(L"v2Alpha flag off -- no Unity pass");
        ui->set_alpha_state(3, L"");
        show_final_text(p, ui_text(148));
        return PassEnd::Done;
    }

    ui->set_status_text(ui_text(11));
    std::string index;
    std::wstring error;
    DWORD win_error = 0;
    FetchResult fetched = fetch_index(target.index_path, index, &error, &win_error, ui);
    switch (fetched) {
        case FetchNotFound:
            if (!target.legacy) {
                debug_line(L"unity/win/index.txt: 404 -- V2 (Alpha) not available in this release");
                ui->set_alpha_state(2, L"");
                ui->set_file_progress(100);
                ui->set_total_progress(100);
                show_final_text(p, ui_text(144));
                return PassEnd::Done;
            }
            [[fallthrough]];
        case FetchUnreachable:
            report(p, L"unreachable", classify_patch_failure(error, win_error).code);
            show_final_text(p, format_text(ui_text(23), {std::wstring_view(error)}));
            return PassEnd::Done;
        case FetchNoSignature:
            report(p, L"sig_fetch", classify_patch_failure(error, win_error).code);
            show_final_text(p, format_text(ui_text(24), {std::wstring_view(error)}));
            return PassEnd::Done;
        case FetchBadSignature:
            debug_line(L"signature REFUSED: " + std::wstring(target.index_path));
            report(p, L"sig_invalid", 0);
            show_final_text(p, ui_text(25));
            return PassEnd::Done;
        case FetchOk:
            break;
    }
    debug_line(L"verified " + std::wstring(target.index_path) + L" (" + std::to_wstring(index.size()) + L" bytes)");
    ui->set_status_text(ui_text(13));
    ui->set_total_progress(0);

    const std::vector<PatchEntry> entries = parse_index(index);
    const std::wstring root = target_root(target);
    HashCache cache = load_hash_cache(root);
    CheckProgressDisplay display(ui, state.stopping, repair);
    const std::vector<PatchEntry> to_download = diff_local(entries, root, cache, repair, std::ref(display));

    // From here on the pass ends by saving the cache, on every path.
    struct SaveCache {
        const std::wstring& root;
        HashCache& cache;
        const std::vector<PatchEntry>& entries;
        ~SaveCache() { save_hash_cache(root, cache, entries); }
    } save_on_exit{root, cache, entries};
    if (state.stopping) return PassEnd::Done;
    save_hash_cache(root, cache, entries);  // the hashing survives a failed download

    const std::wstring own_path = own_launcher_path();
    DownloadPhase phase{ui,   target, patch_base_url(), compiled_in_trusted_keys(), index, to_download, cache,
                        root, restarts_left, state.stopping, last_path_component(own_path)};
    DownloadOutcome outcome = run_download_phase(phase);
    switch (outcome.kind) {
        case DownloadOutcome::Restart:
            return PassEnd::Restart;
        case DownloadOutcome::Stopped:
            return PassEnd::Done;
        case DownloadOutcome::Failed: {
            PatchFailure failure = classify_patch_failure(outcome.error, outcome.win_error);
            report(p, failure.step, failure.code);
            show_final_text(p, outcome.final_text);
            return PassEnd::Done;
        }
        case DownloadOutcome::Installed:
            break;
    }
    if (state.stopping) return PassEnd::Done;

    if (!target.legacy) {
        if (auto old_list = read_applied_list(root)) {
            int pruned = prune_unity(*old_list, entries, root);
            debug_line(L"unity: pruned " + std::to_wstring(pruned) + L" file(s) the new index dropped");
        }
        CreateDirectoryW(root.c_str(), nullptr);
        if (!replace_file_contents(root + L"\\" + kUnityAppliedList, index))
            debug_line(L"unity: could not save .index.txt (next prune knows less, deletes nothing extra)");
        {
            std::lock_guard lock(state.applied_mutex);
            state.applied_index_v2 = index;
        }
        probe_v2_build(ui);
        ui->set_file_progress(100);
        ui->set_total_progress(100);
        finish_ready(p, ui_text(145));
        debug_line(L"unity pass complete: " + std::to_wstring(outcome.downloaded) + L" file(s) downloaded");
        if (completed) *completed = true;
        return PassEnd::Done;
    }

    if (outcome.launcher_replaced) {
        ui->set_status_text(ui_text(19));
        launch_game(last_path_component(own_path), L"");
        ui->quit(0);
        return PassEnd::Done;
    }

    std::wstring update_error;
    DWORD update_win_error = 0;
    int updated = self_update(root, own_path, entries, &update_error, &update_win_error);
    if (updated == SelfUpdateFailed) {
        report(p, L"self_update", static_cast<long>(update_win_error));
    } else if (updated == SelfUpdateInstalled) {
        if (launch_game(last_path_component(own_path), L"")) {
            ui->set_status_text(ui_text(19));
            debug_line(L"pass end: " + ui_text(19));
            ui->quit(0);
            return PassEnd::Done;
        }
        debug_line(L"self-update installed; relaunch failed -- continuing with this run");
    }
    if (int pruned = prune_packs(entries, root); pruned > 0)
        debug_line(L"pruned " + std::to_wstring(pruned) + L" superseded overlay file(s)");
    state.warning_text = prelaunch_check(ui, root);
    ui->set_file_progress(100);
    ui->set_total_progress(100);
    {
        std::lock_guard lock(state.applied_mutex);
        state.applied_index_v1 = index;
    }
    finish_ready(p, ui_text(repair ? 22 : outcome.downloaded == 0 ? 21 : 20));
    if (completed) *completed = true;
    return PassEnd::Done;
}

void run_passes(ProcessState& state, IPatcherUI* ui, bool repair, const Target& target, bool& completed) {
    int restarts_left = 2;
    while (run_patch_pass(state, ui, repair, restarts_left, target, &completed) == PassEnd::Restart &&
           !state.stopping)
        --restarts_left;
}

bool run_v2_pass(ProcessState& state, IPatcherUI* ui, bool repair) {
    bool completed = false;
    run_passes(state, ui, repair, unity_target, completed);
    if (!completed && !state.stopping) {
        debug_line(L"V2 (Alpha) pass did not complete -- the chooser falls back to V1 (Stable)");
        write_client_choice(false);
        ui->set_client_choice(false);
    }
    return completed;
}

}  // namespace kpatch
