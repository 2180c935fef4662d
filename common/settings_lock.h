// The cross-process lock around every read-modify-write of settings.cfg, shared with
// KestSetup and the game client: the named mutex "KestOnline.Config.Lock.v1".
#pragma once

#include "common/unique_handle.h"

namespace kpatch {

class SettingsLock {
public:
    static constexpr wchar_t kMutexName[] = L"KestOnline.Config.Lock.v1";
    static constexpr DWORD kWaitMs = 5000;

    // Waits up to 5000 ms. An abandoned mutex (its owner died) counts as acquired.
    SettingsLock();
    ~SettingsLock();
    SettingsLock(const SettingsLock&) = delete;
    SettingsLock& operator=(const SettingsLock&) = delete;

    bool owned() const { return owned_; }
    DWORD wait_result() const { return wait_result_; }  // WAIT_* value, or (DWORD)-1 before a wait
    DWORD error() const { return error_; }              // ERROR_TIMEOUT, or the failing call's error

private:
    unique_kernel_handle mutex_;
    bool owned_ = false;
    DWORD wait_result_ = static_cast<DWORD>(-1);
    DWORD error_ = 0;
};

}  // namespace kpatch
