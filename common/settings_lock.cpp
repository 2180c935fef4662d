#include "common/settings_lock.h"

namespace kpatch {

SettingsLock::SettingsLock() {
    mutex_.reset(CreateMutexW(nullptr, FALSE, kMutexName));
    if (!mutex_) {
        error_ = GetLastError();
        return;
    }
    wait_result_ = WaitForSingleObject(mutex_.get(), kWaitMs);
    switch (wait_result_) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:
            owned_ = true;
            break;
        case WAIT_TIMEOUT:
            error_ = ERROR_TIMEOUT;
            break;
        default:
            error_ = GetLastError();
            break;
    }
}

SettingsLock::~SettingsLock() {
    if (owned_) ReleaseMutex(mutex_.get());
}

}  // namespace kpatch
