// The real launcher.exe as a player starts it: its folder, its command line, its window
// and how it stops. Observed through the files it writes, its debugger output and its exit.
#include "tests/support/child_process.h"
#include "tests/support/debug_capture.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

using kest_test::ChildProcess;
using kest_test::DebugCapture;
using kest_test::TempDir;

constexpr DWORD kStartTimeoutMs = 20000;

HWND find_launcher_window(DWORD pid) {
    struct Search {
        DWORD pid;
        HWND found;
    } search{pid, nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM lp) -> BOOL {
            auto* s = reinterpret_cast<Search*>(lp);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            wchar_t cls[64] = {};
            GetClassNameW(hwnd, cls, 64);
            if (owner == s->pid && wcscmp(cls, L"KestLauncherWindow") == 0) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class LauncherProcess : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(capture.ok());
        exe = install / L"launcher.exe";
        ASSERT_TRUE(CopyFileW((kest_test::exe_folder() + L"\\launcher.exe").c_str(), exe.c_str(), FALSE));
    }
    std::unique_ptr<ChildProcess> start(std::vector<std::wstring> args) {
        auto child = std::make_unique<ChildProcess>(exe, args, elsewhere.path());
        EXPECT_TRUE(child->started());
        return child;
    }
    // Closes the window as the player does; returns the milliseconds until the process ended.
    DWORD close_and_time(ChildProcess& child, int* exit_code) {
        HWND window = find_launcher_window(child.id());
        EXPECT_NE(window, nullptr);
        DWORD start = GetTickCount();
        PostMessageW(window, WM_CLOSE, 0, 0);
        *exit_code = child.wait(30000);
        return GetTickCount() - start;
    }
    DebugCapture capture;
    TempDir install, elsewhere;
    std::wstring exe;
};

TEST_F(LauncherProcess, RunsInItsOwnFolderWhateverTheCurrentDirectory) {
    auto child = start({});
    ASSERT_TRUE(capture.wait_for(child->id(), "[kestpatcher] worker: repair=0 play=0 v2=0\n", kStartTimeoutMs));
    EXPECT_TRUE(kest_test::file_exists(install / L"settings.cfg"));
    EXPECT_FALSE(kest_test::file_exists(elsewhere / L"settings.cfg"));
    int code = -1;
    close_and_time(*child, &code);
    EXPECT_EQ(code, 0);
}

TEST_F(LauncherProcess, RepairOnTheCommandLineStartsARepairAtOnce) {
    for (auto [arg, line] : {std::pair{L"--REPAIR", "repair=1"}, std::pair{L"-repair", "repair=0"}}) {
        auto child = start({arg});
        EXPECT_TRUE(capture.wait_for(child->id(), std::string("[kestpatcher] worker: ") + line, kStartTimeoutMs))
            << line;
        int code = -1;
        close_and_time(*child, &code);
    }
}

TEST_F(LauncherProcess, ClosingDuringAPassStopsWithinAStepAndTheTelemetryWait) {
    auto child = start({});
    ASSERT_TRUE(capture.wait_for(child->id(), "worker: repair=0", kStartTimeoutMs));
    Sleep(500);
    int code = -1;
    DWORD elapsed = close_and_time(*child, &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(capture.seen(child->id(), "[kestpatcher] worker: stopped\n"));
    EXPECT_FALSE(capture.seen(child->id(), "pass finished"));
    // One step (100 ms) plus at most 1.5 s for telemetry, with room for a slow machine;
    // the pass itself would have run for another five seconds.
    EXPECT_LT(elapsed, 4000u);
}

}  // namespace
