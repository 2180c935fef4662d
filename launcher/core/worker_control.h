// Starting and joining the patch worker: at most one at a time, requests while one runs
// are dropped, not queued.
#pragma once

#include "launcher/core/process_state.h"

namespace kpatch {

// Asks for a worker (repair: check every file's hash; play: start the game when current;
// use_v2: the V2 (Alpha) client). Dropped when stopping is set or a worker is busy.
// Returns whether a worker was started.
bool start_patch_worker(ProcessState& state, bool repair, bool play, bool use_v2);
bool start_patch_worker(bool repair, bool play, bool use_v2);  // on process_state()

// Shutdown steps: set stopping, then join the worker if one exists. Main thread.
void stop_patch_worker(ProcessState& state);

}  // namespace kpatch
