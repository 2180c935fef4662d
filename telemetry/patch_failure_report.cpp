#include "telemetry/patch_failure_report.h"

#include "common/debug_log.h"

namespace kpatch {

PatchFailure classify_patch_failure(const std::wstring& message, DWORD win_error) {
    if (message.find(L"integrity") != std::wstring::npos) return {L"integrity", 0};
    if (message.find(L"in use") != std::wstring::npos) return {L"in_use", static_cast<long>(win_error)};
    return {L"download", static_cast<long>(win_error)};
}

bool report_patch_failure(const std::wstring&, const std::wstring& step, long code, const std::wstring& version,
                          const std::wstring& lang) {
    debug_line(L"patch failure (not sent): " + step + L" " + std::to_wstring(code) + L" " + version + L" " + lang);
    return false;
}

}  // namespace kpatch
