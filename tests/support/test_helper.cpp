// A second process for the cross-process tests. Modes:
//   hold-lock MS READY        take the settings lock, signal READY, hold it MS ms, release
//   abandon-lock READY        take the settings lock, signal READY, exit without releasing
//   hold-file PATH MS READY   open PATH for reading without delete sharing, signal, hold MS ms
//   write-keys PATH SECTION PREFIX COUNT   set SECTION/PREFIX<i>=v<i> for i < COUNT, one
//                             locked read-modify-write each; exit code 0 when every save worked
//   seed-language PATH        the launcher's language seeding on PATH (in this process's locale)
#include "common/localization.h"
#include "common/settings_edit.h"
#include "common/settings_lock.h"
#include "common/unique_handle.h"
#include "common/utf8.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

void signal(const wchar_t* name) {
    kpatch::unique_kernel_handle e(OpenEventW(EVENT_MODIFY_STATE, FALSE, name));
    if (e) SetEvent(e.get());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    std::wstring mode = argv[1];
    if (mode == L"hold-lock" && argc == 4) {
        kpatch::SettingsLock lock;
        if (!lock.owned()) return 3;
        signal(argv[3]);
        Sleep(static_cast<DWORD>(_wtoi(argv[2])));
        return 0;
    }
    if (mode == L"abandon-lock" && argc == 3) {
        HANDLE m = CreateMutexW(nullptr, FALSE, kpatch::SettingsLock::kMutexName);
        if (WaitForSingleObject(m, 5000) != WAIT_OBJECT_0) return 3;
        signal(argv[2]);
        ExitProcess(0);  // still owning the mutex: it is abandoned
    }
    if (mode == L"hold-file" && argc == 5) {
        kpatch::unique_file f(CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        if (!f) return 3;
        signal(argv[4]);
        Sleep(static_cast<DWORD>(_wtoi(argv[3])));
        return 0;
    }
    if (mode == L"write-keys" && argc == 6) {
        std::string section = kpatch::to_utf8(argv[3]), prefix = kpatch::to_utf8(argv[4]);
        int count = _wtoi(argv[5]);
        int failures = 0;
        for (int i = 0; i < count; ++i) {
            bool ok = kpatch::edit_settings(argv[2], [&](kpatch::SettingsDocument& doc) {
                doc.set(section, prefix + std::to_string(i), "v" + std::to_string(i));
                return true;
            });
            if (!ok) ++failures;
        }
        return failures == 0 ? 0 : 1;
    }
    if (mode == L"seed-language" && argc == 3) {
        kpatch::seed_language(argv[2]);
        return 0;
    }
    return 2;
}
