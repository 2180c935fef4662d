// Process entry of launcher.exe.
#include "launcher/core/patch_process.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Run in the launcher's own folder, whatever the shortcut's working directory was:
    // settings.cfg, the game files and the caches lie beside it.
    wchar_t path[260];
    DWORD n = GetModuleFileNameW(nullptr, path, 260);
    if (n >= 1 && n <= 259) {
        if (wchar_t* slash = wcsrchr(path, L'\\')) {
            // A drive root keeps its backslash: "C:" alone would name the drive's current folder.
            bool drive_root = slash == path + 2 && path[1] == L':';
            slash[drive_root ? 1 : 0] = L'\0';
            SetCurrentDirectoryW(path);
        }
    }
    return kpatch::patch_process() ? 0 : 1;
}
