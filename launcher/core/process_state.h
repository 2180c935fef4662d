// The values the launcher's threads share for the life of the process.
#pragma once

#include "launcher/core/patcher_ui.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace kpatch {

class MaintenanceGate;

struct ProcessState {
    std::atomic<bool> stopping{false};       // set once, when the window has closed; never cleared
    std::atomic<bool> worker_busy{false};    // from a worker's acceptance until its last act
    std::atomic<bool> v2_alpha_open{false};  // the server's v2Alpha flag at the start of the last pass
    std::atomic<MaintenanceGate*> active_gate{nullptr};

    std::mutex applied_mutex;  // guards the two applied indexes
    std::string applied_index_v1, applied_index_v2;

    std::wstring warning_text;  // written only by the worker

    // The worker record: the one worker thread that may exist, and the window it reports to.
    std::mutex worker_mutex;
    std::thread worker;
    IPatcherUI* worker_ui = nullptr;
};

// The launcher process's one instance.
ProcessState& process_state();

}  // namespace kpatch
