// The checks of the machine against what the game needs, after each complete V1 pass.
// For now nothing is checked and no warning is given.
#pragma once

#include "launcher/core/patcher_ui.h"

#include <string>

namespace kpatch {

// The warning to show instead of the ready text; empty when the machine is fit.
std::wstring prelaunch_check(IPatcherUI* ui, const std::wstring& root);

}  // namespace kpatch
