#include "launcher/core/self_update.h"

#include "common/debug_log.h"
#include "launcher/patch/hash_cache.h"
#include "launcher/patch/local_diff.h"
#include "launcher/patch/target.h"

#include <windows.h>

namespace kpatch {
namespace {

void log(const std::wstring& text) { debug_line(L"self-update: " + text); }

int fail(std::wstring* error, const std::wstring& text) {
    log(text);
    if (error) *error = text;
    return SelfUpdateFailed;
}

void rollback(const std::wstring& launcher, const std::wstring& fresh, const std::wstring& old) {
    SetFileAttributesW(fresh.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(fresh.c_str());
    if (GetFileAttributesW(launcher.c_str()) != INVALID_FILE_ATTRIBUTES) {
        SetFileAttributesW(launcher.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(launcher.c_str());
    }
    if (!MoveFileExW(old.c_str(), launcher.c_str(), MOVEFILE_REPLACE_EXISTING))
        log(L"\u26d4 could not restore the previous launcher from " + old);
}

}  // namespace

std::wstring own_launcher_path() {
    wchar_t path[260];
    DWORD n = GetModuleFileNameW(nullptr, path, 260);
    return (n > 0 && n < 260) ? std::wstring(path, n) : std::wstring();
}

std::wstring update_entry_name(const std::wstring& name) {
    if (name.size() > 4 && CompareStringOrdinal(name.c_str() + name.size() - 4, 4, L".exe", 4, TRUE) == CSTR_EQUAL)
        return name.substr(0, name.size() - 4) + L".update";
    return name + L".update";
}

int self_update(const std::wstring& root, const std::wstring& launcher, const std::vector<PatchEntry>& index,
                std::wstring* error, DWORD* win_error) {
    const std::wstring wanted = update_entry_name(last_path_component(launcher));
    const PatchEntry* entry = nullptr;
    for (const PatchEntry& e : index) {
        if (CompareStringOrdinal(e.path.c_str(), -1, wanted.c_str(), -1, TRUE) == CSTR_EQUAL) {
            entry = &e;
            break;
        }
    }
    if (!entry) return SelfUpdateNothing;

    wchar_t marker[40] = {};
    DWORD marker_len = GetEnvironmentVariableW(kSelfUpdatedVariable, marker, 40);
    std::wstring entry_hash(entry->hash.begin(), entry->hash.end());
    if (marker_len == 32 && entry_hash.size() == 32 &&
        CompareStringOrdinal(marker, 32, entry_hash.c_str(), 32, TRUE) == CSTR_EQUAL)
        return SelfUpdateNothing;

    std::string running = file_md5_hex(launcher);
    if (running.size() != 32 || entry->hash.size() != 32 || hash_equals(running, entry->hash)) return SelfUpdateNothing;

    const std::wstring source = entry_local_path(root, entry->path);
    const std::wstring fresh = launcher + L".new", old = launcher + L".old";
    auto code_text = [&](DWORD code) {
        if (win_error) *win_error = code;
        return L" (error " + std::to_wstring(code) + L")";
    };

    SetFileAttributesW(fresh.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(fresh.c_str());
    if (!CopyFileW(source.c_str(), fresh.c_str(), FALSE))
        return fail(error, L"cannot copy the update" + code_text(GetLastError()));
    SetFileAttributesW(fresh.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!hash_equals(file_md5_hex(fresh), entry->hash)) {
        DeleteFileW(fresh.c_str());
        return fail(error, L"the update file does not match the signed index");
    }
    SetFileAttributesW(old.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(old.c_str());
    if (!MoveFileExW(launcher.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DWORD code = GetLastError();
        DeleteFileW(fresh.c_str());
        return fail(error, L"cannot rename the running launcher" + code_text(code));
    }
    if (!MoveFileExW(fresh.c_str(), launcher.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD code = GetLastError();
        rollback(launcher, fresh, old);
        return fail(error, L"cannot move the update into place" + code_text(code));
    }
    if (!hash_equals(file_md5_hex(launcher), entry->hash)) {
        rollback(launcher, fresh, old);
        return fail(error, L"the installed launcher does not match the signed index");
    }
    SetEnvironmentVariableW(kSelfUpdatedVariable, entry_hash.c_str());
    log(L"installed " + entry->path + L" over " + last_path_component(launcher));
    return SelfUpdateInstalled;
}

void remove_old_launcher(const std::wstring& launcher) {
    const std::wstring old = launcher + L".old";
    if (GetFileAttributesW(old.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(old.c_str(), FILE_ATTRIBUTE_NORMAL);
    for (int attempt = 0; attempt < 15; ++attempt) {
        if (DeleteFileW(old.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return;
        Sleep(200);
    }
    log(L"left " + old + L" for the next start (still in use)");
}

void remove_old_launcher() { remove_old_launcher(own_launcher_path()); }

}  // namespace kpatch
