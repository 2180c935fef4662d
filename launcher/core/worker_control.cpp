#include "launcher/core/worker_control.h"

#include "launcher/core/patch_worker.h"

#include <system_error>

namespace kpatch {

bool start_patch_worker(ProcessState& state, bool repair, bool play, bool use_v2) {
    std::lock_guard lock(state.worker_mutex);
    if (state.stopping || state.worker_busy.exchange(true)) return false;
    // worker_busy was clear, so a previous thread has finished its work: reap it.
    if (state.worker.joinable()) state.worker.join();
    IPatcherUI* ui = state.worker_ui;
    try {
        state.worker = std::thread([&state, ui, repair, play, use_v2] { patch_worker(state, ui, repair, play, use_v2); });
    } catch (const std::system_error&) {
        state.worker_busy = false;  // no thread: later requests must not be dropped forever
        return false;
    }
    return true;
}

bool start_patch_worker(bool repair, bool play, bool use_v2) {
    return start_patch_worker(process_state(), repair, play, use_v2);
}

void stop_patch_worker(ProcessState& state) {
    {
        std::lock_guard lock(state.worker_mutex);
        state.stopping = true;
    }
    std::lock_guard lock(state.worker_mutex);
    if (state.worker.joinable()) state.worker.join();
}

}  // namespace kpatch
