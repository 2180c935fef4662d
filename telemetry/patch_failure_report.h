// The launcher's report of a failed patch step. For now the report is only logged: the
// telemetry sender, its daily throttle and the classification of error texts come later.
#pragma once

#include <windows.h>

#include <string>

namespace kpatch {

struct PatchFailure {
    std::wstring step;  // "unreachable", "sig_fetch", "sig_invalid", "self_update", or a download step
    long code = 0;
};

// Step and code of a failed download or fetch, from its error text and Windows error.
PatchFailure classify_patch_failure(const std::wstring& message, DWORD win_error);

// Returns whether an event was sent.
bool report_patch_failure(const std::wstring& settings_path, const std::wstring& step, long code,
                          const std::wstring& version, const std::wstring& lang);

}  // namespace kpatch
