// The setup window. For now a minimal window with the setup's title and heading, in the
// setup's start-up language; it closes with exit code 0.
#pragma once

#include <windows.h>

namespace kpatch {

inline constexpr wchar_t kSetupWindowClass[] = L"KestSetupWindow";

// Runs the window until it is closed; returns the process exit code.
int run_setup_window(HINSTANCE instance);

}  // namespace kpatch
