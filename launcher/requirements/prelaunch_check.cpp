#include "launcher/requirements/prelaunch_check.h"

namespace kpatch {

std::wstring prelaunch_check(IPatcherUI*, const std::wstring&) { return {}; }

}  // namespace kpatch
