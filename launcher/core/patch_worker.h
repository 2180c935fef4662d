// The body of the patch worker thread: one request (update, repair, Play, V2 choice).
#pragma once

#include "launcher/core/process_state.h"

namespace kpatch {

// Whatever path it takes, it ends with set_busy(false), set_tools_enabled(true) and
// clearing worker_busy, in that order.
void patch_worker(ProcessState& state, IPatcherUI* ui, bool repair, bool play, bool use_v2);

}  // namespace kpatch
