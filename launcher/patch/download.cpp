#include "launcher/patch/download.h"

#include "common/debug_log.h"
#include "common/http_client.h"
#include "common/localization.h"
#include "common/text_format.h"
#include "launcher/patch/local_diff.h"

namespace kpatch {
namespace {

int percent(std::int64_t done, std::int64_t total) {
    return total < 1 ? 0 : static_cast<int>(done * 100 / total);
}

// Waits up to ms in 100 ms steps; false when stopping was set meanwhile.
bool wait_unless_stopping(const std::atomic<bool>& stopping, int ms) {
    for (int waited = 0; waited < ms; waited += 100) {
        if (stopping) return false;
        Sleep(100);
    }
    return !stopping;
}

}  // namespace

std::wstring replace_failure_text(DWORD code) {
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) return kFileInUse;
    return L"cannot replace the downloaded file (error " + std::to_wstring(code) + L")";
}

bool download_entry(const std::wstring& url, const std::wstring& local_path, const std::string& expected_hash,
                    std::int64_t expected_size, const std::function<bool(std::int64_t, std::int64_t)>& progress,
                    std::wstring* error, DWORD* win_error) {
    const std::wstring part = local_path + L".part";
    DeleteFileW(part.c_str());
    bool oversized = false;
    auto guarded = [&](std::int64_t done, std::int64_t total) {
        if (done > expected_size) {
            oversized = true;
            return false;
        }
        return !progress || progress(done, total);
    };
    std::wstring http_error;
    if (!http_get_file(url, part, guarded, &http_error)) {
        if (win_error) *win_error = GetLastError();
        DeleteFileW(part.c_str());
        if (error) *error = oversized ? kIntegrityFailed : http_error;
        return false;
    }
    std::string hash = file_md5_hex(part);
    if (hash.empty() || !hash_equals(hash, expected_hash)) {
        DeleteFileW(part.c_str());
        if (error) *error = kIntegrityFailed;
        if (win_error) *win_error = 0;
        return false;
    }
    if (!MoveFileExW(part.c_str(), local_path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DWORD code = GetLastError();
        DeleteFileW(part.c_str());
        if (win_error) *win_error = code;
        if (error) *error = replace_failure_text(code);
        return false;
    }
    return true;
}

DownloadOutcome run_download_phase(const DownloadPhase& p) {
    DownloadOutcome out;
    IPatcherUI* ui = p.ui;
    std::int64_t total = 0, done = 0;
    for (const PatchEntry& e : p.to_download) total += e.size;
    const std::int64_t n = static_cast<std::int64_t>(p.to_download.size());

    ui->set_file_progress(0);
    ui->set_total_progress(0);
    for (std::int64_t i = 0; i < n; ++i) {
        const PatchEntry& e = p.to_download[i];
        if (p.stopping) return out.kind = DownloadOutcome::Stopped, out;
        const std::wstring name = last_path_component(e.path);
        ui->set_status_text(format_text(ui_text(16), {std::wstring_view(name), i + 1, n}));
        ui->set_file_progress(0);
        const std::wstring url = entry_url(p.base_url, p.target, e.path);
        const std::wstring local = entry_local_path(p.root, e.path);
        debug_line(L"download " + url);

        int last_total = -1;
        auto first_progress = [&](std::int64_t got, std::int64_t of) {
            ui->set_file_progress(percent(got, of));
            int t = percent(done + got, total);
            if (t != last_total) {
                ui->set_total_progress(t);
                last_total = t;
            }
            return !p.stopping;
        };
        std::wstring error;
        DWORD win_error = 0;
        bool ok = download_entry(url, local, e.hash, e.size, first_progress, &error, &win_error);
        if (p.stopping) return out.kind = DownloadOutcome::Stopped, out;

        if (!ok && error.find(L"integrity") != std::wstring::npos) {
            if (p.restarts_left > 0) {
                std::string fresh;
                if (fetch_index_from(p.base_url, p.target.index_path, fresh, nullptr, nullptr, nullptr, p.keys) ==
                        FetchOk &&
                    fresh != p.index_bytes) {
                    ui->set_status_text(ui_text(18));
                    return out.kind = DownloadOutcome::Restart, out;
                }
            }
            ui->set_status_text(format_text(ui_text(17), {std::wstring_view(name)}));
            if (!wait_unless_stopping(p.stopping, 3000)) return out.kind = DownloadOutcome::Stopped, out;
            auto retry_progress = [&](std::int64_t got, std::int64_t of) {
                ui->set_file_progress(percent(got, of));
                return !p.stopping;
            };
            ok = download_entry(url + L"?v=" + std::wstring(e.hash.begin(), e.hash.end()), local, e.hash, e.size,
                                retry_progress, &error, &win_error);
            if (p.stopping) return out.kind = DownloadOutcome::Stopped, out;
            if (ok) debug_line(L"integrity healed on retry: " + e.path);
        }
        if (!ok) {
            out.kind = DownloadOutcome::Failed;
            out.failed_name = name;
            out.error = error;
            out.win_error = win_error;
            out.final_text = format_text(ui_text(26), {std::wstring_view(name), std::wstring_view(error)});
            return out;
        }
        remember_download(p.cache, e, local);
        ++out.downloaded;
        done += e.size;
        ui->set_total_progress(total < 1 ? 100 : percent(done, total));
        if (p.target.legacy && !p.launcher_file_name.empty() &&
            CompareStringOrdinal(name.c_str(), -1, p.launcher_file_name.c_str(), -1, TRUE) == CSTR_EQUAL)
            out.launcher_replaced = true;
    }
    return out;
}

}  // namespace kpatch
