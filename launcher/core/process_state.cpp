#include "launcher/core/process_state.h"

namespace kpatch {

ProcessState& process_state() {
    static ProcessState state;
    return state;
}

}  // namespace kpatch
