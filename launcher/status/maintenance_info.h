// What the maintenance gate shows the window: its state and the status record.
#pragma once

#include "launcher/status/server_status.h"

#include <cstdint>

namespace kpatch {

struct MaintenanceInfo {
    std::int32_t state = 0;  // none 0, scheduled 1, active 2, overrun 3, before_opening 4
    ServerStatus status;
};

}  // namespace kpatch
