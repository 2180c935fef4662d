// kest_bench md5 FILE                  hash one file as the launcher does
// kest_bench diff ROOT                 diff_local over ROOT\index.txt: a cold pass, then one with the cache
// kest_bench install BASE_URL ROOT     a first install from the patch server at BASE_URL into ROOT
// kest_bench uptodate BASE_URL ROOT    an up-to-date start: status, index, cache, diff
// Each prints "key=value" figures on one line.
#include "launcher/patch/download.h"
#include "launcher/patch/hash_cache.h"
#include "launcher/patch/local_diff.h"
#include "launcher/patch/update_index.h"
#include "launcher/status/server_status.h"

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

double peak_working_set_mib() {
    PROCESS_MEMORY_COUNTERS pmc{sizeof pmc};
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
    return pmc.PeakWorkingSetSize / 1048576.0;
}

std::string read_all(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A window that only counts what it is told.
class NullUI : public kpatch::IPatcherUI {
public:
    bool create(HINSTANCE) override { return true; }
    void show() override {}
    void set_status_text(const std::wstring&) override { ++calls; }
    void set_total_progress(int) override { ++calls; }
    void set_file_progress(int) override { ++calls; }
    void set_play_enabled(bool) override {}
    void set_maintenance_lock(bool) override {}
    void request_attention() override {}
    void set_busy(bool) override {}
    void set_tools_enabled(bool) override {}
    bool ask(const std::wstring&, const std::wstring&) override { return false; }
    void set_button_handler(std::function<void(kpatch::UiButton)>) override {}
    int run() override { return 0; }
    void quit(int) override {}
    long calls = 0;
};

int bench_md5(const std::wstring& file) {
    auto start = Clock::now();
    std::int64_t bytes = 0;
    std::string hash = kpatch::file_md5_hex(file, [&](std::int64_t done) { return bytes = done, true; });
    double t = seconds_since(start);
    std::printf("md5=%s bytes=%lld seconds=%.3f mib_per_s=%.1f peak_working_set_mib=%.1f\n", hash.c_str(),
                static_cast<long long>(bytes), t, bytes / 1048576.0 / t, peak_working_set_mib());
    return hash.empty() ? 1 : 0;
}

int bench_diff(const std::wstring& root) {
    auto entries = kpatch::parse_index(read_all(root + L"\\index.txt"));
    kpatch::HashCache cache;
    auto cold_start = Clock::now();
    auto cold = kpatch::diff_local(entries, root, cache, false, {});
    double cold_t = seconds_since(cold_start);
    long hashed = 0;
    auto warm_start = Clock::now();
    auto warm = kpatch::diff_local(entries, root, cache, false,
                                   [&](const std::wstring&, std::int64_t file_done, auto, auto, auto) {
                                       hashed += file_done == 0;
                                       return true;
                                   });
    double warm_t = seconds_since(warm_start);
    std::printf("files=%zu cold_seconds=%.3f cached_seconds=%.3f files_hashed_with_cache=%ld to_download=%zu/%zu "
                "peak_working_set_mib=%.1f\n",
                entries.size(), cold_t, warm_t, hashed, cold.size(), warm.size(), peak_working_set_mib());
    return 0;
}

int bench_install(const std::wstring& base, const std::wstring& root, bool uptodate) {
    NullUI ui;
    std::atomic<bool> stopping{false};
    auto start = Clock::now();
    kpatch::ServerStatus status;
    kpatch::fetch_status(base + L"status.json", status);
    std::string index;
    std::wstring error;
    if (kpatch::fetch_index_from(base, L"index.txt", index, &error, nullptr, &ui, kpatch::compiled_in_trusted_keys()) !=
        kpatch::FetchOk) {
        std::printf("error=index %ls\n", error.c_str());
        return 1;
    }
    auto entries = kpatch::parse_index(index);
    auto diff_start = Clock::now();
    kpatch::HashCache cache = kpatch::load_hash_cache(root);
    kpatch::CheckProgressDisplay display(&ui, stopping, false);
    auto to_download = kpatch::diff_local(entries, root, cache, false, std::ref(display));
    double diff_t = seconds_since(diff_start);
    std::int64_t bytes = 0;
    for (const auto& e : to_download) bytes += e.size;
    kpatch::DownloadPhase phase{&ui,  kpatch::legacy_target, base, kpatch::compiled_in_trusted_keys(), index,
                                to_download, cache, root, 0, stopping, L"launcher.exe"};
    auto outcome = kpatch::run_download_phase(phase);
    kpatch::save_hash_cache(root, cache, entries);
    double t = seconds_since(start);
    std::printf("%s files=%zu downloaded=%d bytes=%lld seconds=%.3f diff_seconds=%.3f mib_per_s=%.1f "
                "peak_working_set_mib=%.1f ui_calls=%ld result=%d\n",
                uptodate ? "uptodate" : "install", entries.size(), outcome.downloaded, static_cast<long long>(bytes), t,
                diff_t, bytes / 1048576.0 / (t > 0 ? t : 1), peak_working_set_mib(), ui.calls,
                static_cast<int>(outcome.kind));
    return outcome.kind == kpatch::DownloadOutcome::Installed ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring cmd = argc > 1 ? argv[1] : L"";
    if (cmd == L"md5" && argc == 3) return bench_md5(argv[2]);
    if (cmd == L"diff" && argc == 3) return bench_diff(argv[2]);
    if (cmd == L"install" && argc == 4) return bench_install(argv[2], argv[3], false);
    if (cmd == L"uptodate" && argc == 4) return bench_install(argv[2], argv[3], true);
    std::fprintf(stderr, "usage: kest_bench md5 FILE | diff ROOT | install BASE_URL ROOT | uptodate BASE_URL ROOT\n");
    return 2;
}
