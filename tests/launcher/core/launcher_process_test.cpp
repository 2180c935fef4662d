// The real launcher.exe as a player runs it, against a loopback patch server on the
// development configuration's address. Observed through the files on disk, the server's
// request log, the launcher's debug lines and its exit code.
#include "common/localization.h"
#include "launcher/patch/md5.h"
#include "tests/support/child_process.h"
#include "tests/support/debug_capture.h"
#include "tests/support/files.h"
#include "tests/support/published_tree.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <random>

namespace {

using kest_test::ChildProcess;
using kest_test::DebugCapture;
using kest_test::TempDir;

constexpr DWORD kPassTimeoutMs = 30000;
constexpr int kPlayX = 540, kPlayY = 215;  // inside the window's Play button

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

class Launcher : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(capture.ok());
        exe = install / L"launcher.exe";
        ASSERT_TRUE(CopyFileW((kest_test::exe_folder() + L"\\launcher.exe").c_str(), exe.c_str(), FALSE));
        game_client = kest_test::read_file(kest_test::exe_folder() + L"\\kest_demo_game.exe");
        ASSERT_FALSE(game_client.empty());
        // The stand-in game client writes its verdict and exits instead of showing a window.
        SetEnvironmentVariableW(L"KEST_DEMO_GAME_EXIT", L"1");
    }
    void TearDown() override { SetEnvironmentVariableW(L"KEST_DEMO_GAME_EXIT", nullptr); }

    void serve(const std::string& status = R"({"maintenance": false})") {
        tree.put(L"status.json", status);
        server = std::make_unique<kest_test::TestServer>(
            kest_test::TestServerOptions{tree.path(), false, kest_test::kDevPatchServerPort});
        ASSERT_TRUE(server->ok()) << server->error();
    }
    void route(const std::string& json) { ASSERT_TRUE(server->route(json)) << server->error(); }

    std::unique_ptr<ChildProcess> start(std::vector<std::wstring> args = {}) {
        auto child = std::make_unique<ChildProcess>(exe, args, elsewhere.path());
        EXPECT_TRUE(child->started());
        return child;
    }
    // The final text of the next pass of that process (its "pass end: " debug line).
    std::string pass_end(ChildProcess& child, size_t nth = 1) {
        std::string found;
        capture.wait_for(child.id(), "pass end: ", kPassTimeoutMs);
        for (DWORD waited = 0; waited < kPassTimeoutMs; waited += 50) {
            size_t n = 0;
            for (const auto& l : capture.lines())
                if (l.pid == child.id() && l.text.find("[kestpatcher] pass end: ") == 0 && ++n == nth)
                    return l.text.substr(24, l.text.size() - 25);
            Sleep(50);
        }
        return "(no pass end)";
    }
    int close(ChildProcess& child, DWORD* elapsed = nullptr) {
        HWND window = find_launcher_window(child.id());
        EXPECT_NE(window, nullptr);
        DWORD start = GetTickCount();
        PostMessageW(window, WM_CLOSE, 0, 0);
        int code = child.wait(30000);
        if (elapsed) *elapsed = GetTickCount() - start;
        return code;
    }
    void press_play(ChildProcess& child) {
        HWND window = find_launcher_window(child.id());
        ASSERT_NE(window, nullptr);
        PostMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(kPlayX, kPlayY));
    }
    std::map<std::wstring, std::string> game_with_client() {
        auto files = game;
        files[L"kest.exe"] = game_client;
        return files;
    }
    // Publishes files, serves them, and starts a launcher that has installed them.
    std::unique_ptr<ChildProcess> installed_launcher(const std::map<std::wstring, std::string>& files) {
        tree.publish(files);
        serve();
        auto child = start();
        EXPECT_EQ(pass_end(*child), "Update complete. Ready to play!");
        return child;
    }
    int count_requests(const std::string& path) {
        int n = 0;
        for (const auto& r : server->requests()) n += r.path == path;
        return n;
    }
    int count_lines(DWORD pid, const std::string& text) {
        int n = 0;
        for (const auto& l : capture.lines()) n += l.pid == pid && l.text.find(text) != std::string::npos;
        return n;
    }
    bool installed(const std::map<std::wstring, std::string>& files, const std::wstring& folder = L"") {
        for (const auto& [path, content] : files)
            if (kest_test::read_file(install / (folder + path)) != content) return false;
        return true;
    }
    bool no_part_files(const std::wstring& folder) {
        for (const auto& name : kest_test::list_folder(folder))
            if (name.ends_with(L".part")) return false;
        return true;
    }

    DebugCapture capture;
    TempDir install, elsewhere;
    kest_test::PublishedTree tree;
    std::unique_ptr<kest_test::TestServer> server;
    std::wstring exe;
    std::string game_client;
    const std::map<std::wstring, std::string> game = {
        {L"data\\a.pak", "alpha"}, {L"data\\b.pak", std::string(100000, 'b')}, {L"readme.txt", "hello"}};
};

TEST_F(Launcher, AFirstStartInstallsEverythingAndASecondOneDownloadsNothing) {
    tree.publish(game);
    serve();
    auto first = start();
    EXPECT_EQ(pass_end(*first), "Update complete. Ready to play!");
    EXPECT_TRUE(installed(game));
    EXPECT_TRUE(kest_test::file_exists(install / L"settings.cfg")) << "settings.cfg lies beside the launcher";
    EXPECT_FALSE(kest_test::file_exists(elsewhere / L"settings.cfg"));
    EXPECT_EQ(close(*first), 0);

    ASSERT_TRUE(server->reset());
    auto second = start();
    EXPECT_EQ(pass_end(*second), "You're up to date. Ready to play!");
    for (const auto& r : server->requests()) EXPECT_NE(r.path.rfind("/get/", 0), 0u) << r.path;
    EXPECT_EQ(close(*second), 0);
}

TEST_F(Launcher, RepairRehashesEveryFileAndHealsADamagedOne) {
    tree.publish(game);
    serve();
    auto first = start();
    ASSERT_EQ(pass_end(*first), "Update complete. Ready to play!");
    close(*first);
    // Same size, other content, and the file's time put back: only a repair can tell.
    std::wstring damaged = install / L"data\\a.pak";
    WIN32_FILE_ATTRIBUTE_DATA before;
    GetFileAttributesExW(damaged.c_str(), GetFileExInfoStandard, &before);
    ASSERT_TRUE(kest_test::write_file(damaged, "alphX"));
    HANDLE h = CreateFileW(damaged.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(h, nullptr, nullptr, &before.ftLastWriteTime);
    CloseHandle(h);

    auto normal = start();
    EXPECT_EQ(pass_end(*normal), "You're up to date. Ready to play!");
    close(*normal);
    auto repair = start({L"--Repair"});
    EXPECT_EQ(pass_end(*repair), "Repair complete. Ready to play!");
    EXPECT_TRUE(capture.seen(repair->id(), "worker: repair=1"));
    EXPECT_EQ(kest_test::read_file(damaged), "alpha");
    close(*repair);
}

TEST_F(Launcher, ServerAndSignatureFailuresBlockPatchingAndTouchNoFile) {
    struct Case {
        const char* what;
        std::string rule;
        std::string expected;
    } cases[] = {
        {"index 404", R"({"path": "/index.txt", "status": 404})",
         "Error: cannot reach the update server (http status 404)"},
        {"signature missing", R"({"path": "/index.txt.sig", "status": 404})",
         "Error: cannot fetch the update signature (http status 404) \x97 patching blocked."},
        {"signature bad", R"({"path": "/index.txt.sig", "body": ")" + kest_test::demo_signature("other") + R"("})",
         "Error: update list failed signature verification \x97 patching blocked."},
    };
    tree.publish(game);
    serve();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(server->reset());
        std::string rule = c.rule;
        if (auto nl = rule.find("\n"); nl != std::string::npos) rule.replace(nl, 1, "\\n");
        route(rule);
        auto child = start();
        EXPECT_EQ(pass_end(*child), c.expected);
        close(*child);
        EXPECT_FALSE(kest_test::file_exists(install / L"data")) << "no game file is touched";
        EXPECT_FALSE(kest_test::file_exists(install / L"launcher.hashcache"));
    }
}

TEST_F(Launcher, AnUnreachableServerIsReported) {
    auto child = start();  // nothing listens on the patch server's port
    EXPECT_EQ(pass_end(*child), "Error: cannot reach the update server (send/recv failed (12029))");
    close(*child);
}

TEST_F(Launcher, ANewIndexPublishedDuringTheDownloadsStartsASecondPass) {
    tree.publish(game);
    std::map<std::wstring, std::string> newer = game;
    newer[L"data\\a.pak"] = "alpha 2";
    std::string newer_index;
    for (const auto& [path, content] : newer)
        newer_index += std::string(path.begin(), path.end()) + "=" + kpatch::md5_hex(content) + "\t" +
                       std::to_string(content.size()) + "\n";
    serve();
    // The first download of a.pak arrives corrupt while the server switches to the new release.
    tree.put(L"get\\data\\a.pak", "alpha 2");
    route(R"({"path": "/get/data/a.pak", "times": 1, "body": "alphX", "effects": )" +
          kest_test::PublishedTree::publish_effects(newer_index) + "}");
    auto child = start();
    EXPECT_EQ(pass_end(*child), "Update complete. Ready to play!");
    EXPECT_EQ(count_lines(child->id(), "verified index.txt"), 2) << "one restart, never more than three passes";
    EXPECT_TRUE(installed(newer));
    close(*child);
}

TEST_F(Launcher, ACorruptFirstDownloadIsHealedOnRetry) {
    tree.publish(game);
    serve();
    route(R"({"path": "/get/readme.txt", "times": 1, "body": "hellX"})");
    auto child = start();
    EXPECT_EQ(pass_end(*child), "Update complete. Ready to play!");
    EXPECT_TRUE(capture.seen(child->id(), "integrity healed on retry: readme.txt"));
    EXPECT_TRUE(installed(game));
    close(*child);
}

TEST_F(Launcher, PlayWithACurrentInstallStartsTheGameWithAValidTokenAndQuits) {
    auto files = game_with_client();
    auto child = installed_launcher(files);
    press_play(*child);
    EXPECT_EQ(child->wait(30000), 0) << "the launcher quits after starting the game";
    std::string result;
    for (int i = 0; i < 100 && result.empty(); ++i, Sleep(100)) result = kest_test::read_file(install / L"kest-game-result.txt");
    EXPECT_EQ(result.rfind("valid ", 0), 0u) << result;
}

TEST_F(Launcher, PlayAfterANewReleasePatchesFirstAndDoesNotStartTheGame) {
    auto files = game_with_client();
    auto child = installed_launcher(files);
    files[L"readme.txt"] = "hello again";
    tree.publish(files);
    press_play(*child);
    EXPECT_EQ(pass_end(*child, 2), "Update complete. Ready to play!");
    EXPECT_TRUE(capture.seen(child->id(), "Play: the published index is not the applied one -- patching first"));
    EXPECT_EQ(kest_test::read_file(install / L"readme.txt"), "hello again");
    EXPECT_FALSE(kest_test::file_exists(install / L"kest-game-result.txt"));
    close(*child);
}

TEST_F(Launcher, V2IsPatchedAndPrunedWhenChosenAndTheServerAllowsIt) {
    tree.publish(game);
    tree.publish({{L"Kest.exe", game_client}, {L"Data\\level1.bin", "level 1"}}, true);
    tree.put(L"unity\\win\\build.txt", "alpha-7\n");
    ASSERT_TRUE(kest_test::write_file(install / L"settings.cfg", "[launcher]\nclient=unity\n"));
    // What the previous V2 release installed: one file that the new index drops.
    CreateDirectoryW((install / L"unity").c_str(), nullptr);
    ASSERT_TRUE(kest_test::write_file(install / L"unity\\old.bin", "old"));
    ASSERT_TRUE(kest_test::write_file(install / L"unity\\.index.txt",
                                      "old.bin=" + kpatch::md5_hex("old") + "\t3\nKest.exe=x\t1\n"));
    serve(R"({"v2Alpha": true})");
    auto child = start();
    EXPECT_EQ(pass_end(*child, 2), "V2 (Alpha) is up to date. Ready to play!");
    EXPECT_TRUE(installed({{L"Kest.exe", game_client}, {L"Data\\level1.bin", "level 1"}}, L"unity\\"));
    EXPECT_FALSE(kest_test::file_exists(install / L"unity\\old.bin"));
    EXPECT_TRUE(capture.seen(child->id(), "unity: pruned 1 file(s) the new index dropped"));
    close(*child);
}

TEST_F(Launcher, V2SwitchedOffOrNotPublishedFallsBackToV1) {
    tree.publish(game);
    ASSERT_TRUE(kest_test::write_file(install / L"settings.cfg", "[launcher]\nclient=unity\n"));
    // On for the V1 pass, off by the time the V2 pass asks.
    serve(R"({"v2Alpha": false})");
    route(R"({"path": "/status.json", "times": 1, "body": "{\"v2Alpha\": true}"})");
    auto off = start();
    EXPECT_EQ(pass_end(*off, 2), "V2 (Alpha): coming soon");
    EXPECT_TRUE(capture.seen(off->id(), "v2Alpha flag off -- no Unity pass"));
    EXPECT_EQ(count_requests("/unity/win/index.txt"), 0);
    close(*off);

    ASSERT_TRUE(kest_test::write_file(install / L"settings.cfg", "[launcher]\nclient=unity\n"));
    ASSERT_TRUE(server->reset());
    route(R"({"path": "/status.json", "body": "{\"v2Alpha\": true}"})");
    auto missing = start();
    EXPECT_EQ(pass_end(*missing, 2), "V2 (Alpha): not available yet");
    EXPECT_TRUE(capture.seen(missing->id(), "unity/win/index.txt: 404 -- V2 (Alpha) not available in this release"));
    close(*missing);
    EXPECT_NE(kest_test::read_file(install / L"settings.cfg").find("client=legacy"), std::string::npos);
}

TEST_F(Launcher, ANewerLauncherInTheIndexReplacesTheRunningOneOnce) {
    std::string current = kest_test::read_file(exe);
    std::string newer = current + std::string("\0kest self-update test build", 28);  // a PE runs with an overlay
    std::map<std::wstring, std::string> files = game;
    files[L"launcher.update"] = newer;
    tree.publish(files);
    serve();
    auto old_process = start();
    EXPECT_EQ(old_process->wait(kPassTimeoutMs), 0) << "the old launcher quits after the swap";
    EXPECT_TRUE(capture.seen(old_process->id(), "self-update: installed launcher.update over launcher.exe"));

    // The new launcher, started by the old one, finishes its own pass without updating again.
    DWORD new_pid = 0;
    for (int i = 0; i < 300 && !new_pid; ++i, Sleep(100))
        for (const auto& l : capture.lines())
            if (l.pid != old_process->id() && l.text.find("worker: repair=") != std::string::npos) new_pid = l.pid;
    ASSERT_NE(new_pid, 0u);
    kest_test::AdoptedProcess new_process(new_pid);
    ASSERT_TRUE(capture.wait_for(new_pid, "pass end: ", kPassTimeoutMs));
    EXPECT_FALSE(capture.seen(new_pid, "self-update: installed"));
    EXPECT_EQ(kest_test::read_file(exe), newer);
    EXPECT_FALSE(kest_test::file_exists(exe + L".old")) << "the new launcher's worker removed it";
    PostMessageW(find_launcher_window(new_pid), WM_CLOSE, 0, 0);
    EXPECT_EQ(new_process.wait(30000), 0);
}

TEST_F(Launcher, ClosingTheWindowDuringADownloadStopsPromptlyAndLeavesNoPartialFile) {
    tree.publish({{L"big.bin", std::string(4000000, 'g')}});
    serve();
    route(R"({"path": "/get/big.bin", "mode": "slow", "chunk": 16384, "interval_ms": 100, "file": "get/big.bin"})");
    auto child = start();
    ASSERT_TRUE(capture.wait_for(child->id(), "[kestpatcher] download ", kPassTimeoutMs));
    Sleep(700);
    DWORD elapsed = 0;
    EXPECT_EQ(close(*child, &elapsed), 0);
    // One chunk (100 ms here) plus at most 1.5 s for telemetry, with room for a slow machine;
    // the download itself would take another 20 seconds.
    EXPECT_LT(elapsed, 5000u);
    EXPECT_FALSE(kest_test::file_exists(install / L"big.bin"));
    EXPECT_TRUE(no_part_files(install.path()));
}

TEST_F(Launcher, KilledAtRandomPointsOfADownloadItStillConvergesToTheIndex) {
    std::map<std::wstring, std::string> files;
    for (int i = 0; i < 8; ++i) files[L"data\\part" + std::to_wstring(i) + L".pak"] = std::string(300000 + i, char('a' + i));
    tree.publish(files);
    serve();
    // Every file trickles in, so that a kill lands in the middle of some transfer.
    for (const auto& [path, content] : files) {
        std::string url = "/get/" + std::string(path.begin(), path.end());
        std::replace(url.begin(), url.end(), '\\', '/');
        route(R"({"path": ")" + url + R"(", "prefix": true, "mode": "slow", "chunk": 16384, "interval_ms": 30,)"
              R"( "file": ")" + url.substr(1) + R"("})");
    }
    std::mt19937 random(20261210);  // a fixed seed: the same kill points on every run
    std::uniform_int_distribution<int> delay_ms(0, 900);
    int kills = 0;
    for (int round = 0; round < 6; ++round) {
        auto child = start();
        ASSERT_TRUE(capture.wait_for(child->id(), "[kestpatcher] ", kPassTimeoutMs));
        Sleep(delay_ms(random));
        if (capture.seen(child->id(), "pass end: ")) break;  // it finished before the kill
        child->kill();
        ++kills;
        // Whatever a real name holds is a whole, verified file.
        for (const auto& [path, content] : files) {
            std::wstring local = install / path;
            if (kest_test::file_exists(local)) EXPECT_EQ(kest_test::read_file(local), content) << round;
        }
    }
    EXPECT_GE(kills, 2);
    auto last = start();
    EXPECT_NE(pass_end(*last).find("Ready to play!"), std::string::npos);
    EXPECT_TRUE(installed(files));
    EXPECT_TRUE(no_part_files(install / L"data"));
    close(*last);
}

TEST_F(Launcher, ShowsItsTextsInTheLanguageOfSettingsCfg) {
    tree.publish(game);
    serve();
    ASSERT_TRUE(kest_test::write_file(install / L"settings.cfg", "[locale]\nlanguage=de\nlocale_name=de\n"));
    auto child = start();
    // Debug lines reach us in the ANSI code page.
    std::wstring german = kpatch::language_text(1, 20);
    char ansi[512] = {};
    WideCharToMultiByte(CP_ACP, 0, german.c_str(), -1, ansi, sizeof ansi, nullptr, nullptr);
    EXPECT_EQ(pass_end(*child), ansi);
    EXPECT_NE(german, kpatch::language_text(0, 20));
    close(*child);
}

}  // namespace
