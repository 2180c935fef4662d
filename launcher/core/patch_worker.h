// The body of the patch worker thread.
#pragma once

#include "launcher/core/process_state.h"

namespace kpatch {

// Runs one request (update, repair, Play, V2 choice). Whatever path it takes, it ends with
// set_busy(false), set_tools_enabled(true) and clearing worker_busy, in that order.
void patch_worker(ProcessState& state, IPatcherUI* ui, bool repair, bool play, bool use_v2);

// How long one step of the worker's check takes; a stop request is seen between steps.
inline constexpr int kWorkerStepMs = 100;
inline constexpr int kWorkerSteps = 60;

}  // namespace kpatch
