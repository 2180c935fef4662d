// One patch pass brings one target (V1 Stable or V2 Alpha) to the state of its signed
// index: server status, index and signature, local diff, downloads, tidy-up, final text.
#pragma once

#include "launcher/core/process_state.h"
#include "launcher/patch/target.h"

#include <cstdint>

namespace kpatch {

enum class PassEnd : std::int32_t {
    Done = 0,     // ended; completed says whether it succeeded
    Restart = 1,  // a new index was published during the downloads: run it again
};

PassEnd run_patch_pass(ProcessState& state, IPatcherUI* ui, bool repair, int restarts_left, const Target& target,
                       bool* completed);
// At most three passes: restarts are only granted while the budget (2, 1, 0) lasts.
void run_passes(ProcessState& state, IPatcherUI* ui, bool repair, const Target& target, bool& completed);
// The V2 passes; when they do not complete the chooser falls back to V1.
bool run_v2_pass(ProcessState& state, IPatcherUI* ui, bool repair);

}  // namespace kpatch
