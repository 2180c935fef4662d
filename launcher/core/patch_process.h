// The whole life of the launcher process: language, window, gate, the first worker, the
// message loop, and the ordered shutdown.
#pragma once

#include <string>

namespace kpatch {

inline constexpr wchar_t kV1ClientExe[] = L"kest.exe";
inline constexpr wchar_t kV2ClientExe[] = L"Kest.exe";

// Returns true when the message loop ended with exit code 0.
bool patch_process();

}  // namespace kpatch
