#include "tests/support/temp_dir.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

namespace kest_test {

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    wchar_t name[64];
    std::swprintf(name, 64, L"kest-test-%lu-%d-%lu", GetCurrentProcessId(), ++counter, GetTickCount());
    path_ = std::wstring(base) + name;
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempDir::~TempDir() { remove_tree(path_); }

void remove_tree(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = path + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(full);
            } else {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

}  // namespace kest_test
