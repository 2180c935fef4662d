// The stored client choice, [launcher] client = "legacy" (V1 Stable) or "unity" (V2 Alpha).
#pragma once

namespace kpatch {

// true = V2. Reads settings.cfg in the current directory without the lock; anything but
// exactly "unity" reads as V1.
bool read_client_choice();

// Stores the choice under the settings lock; nothing happens when it is already stored.
void write_client_choice(bool use_v2);

}  // namespace kpatch
