// Process entry of KestSetup.exe. For now it only opens the setup window.
#include "setup/ui/setup_window.h"
#include "telemetry/pending_sends.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int code = kpatch::run_setup_window(instance);
    kpatch::wait_for_pending_sends(1500);
    return code;
}
