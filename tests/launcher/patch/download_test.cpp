// The download phase against a real loopback server: what reaches the disk on every path.
#include "launcher/patch/download.h"

#include "common/debug_log.h"
#include "launcher/patch/md5.h"
#include "tests/support/fake_ui.h"
#include "tests/support/files.h"
#include "tests/support/published_tree.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using kest_test::base64;
using kpatch::DownloadOutcome;

class DownloadPhase : public ::testing::Test {
protected:
    void SetUp() override {
        kpatch::set_debug_sink([this](const std::wstring& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        });
    }
    void TearDown() override { kpatch::set_debug_sink(nullptr); }

    void start_server() {
        server = std::make_unique<kest_test::TestServer>(kest_test::TestServerOptions{tree.path()});
        ASSERT_TRUE(server->ok()) << server->error();
    }
    void route(const std::string& json) { ASSERT_TRUE(server->route(json)) << server->error(); }
    std::wstring local(const std::wstring& name) { return game / name; }

    // Runs the phase over the entries of the published index that differ from the game folder.
    DownloadOutcome run(int restarts_left = 2, std::vector<kpatch::PatchEntry> entries = {}) {
        if (entries.empty()) entries = tree.entries();
        index_bytes = tree.index();
        kpatch::DownloadPhase phase{&ui,    kpatch::legacy_target, server->url(L"/"), keys, index_bytes, entries,
                                    cache,  game.path(),           restarts_left,     stopping, L"launcher.exe"};
        return kpatch::run_download_phase(phase);
    }
    void corrupt_first_download_and_publish_a_new_index() {
        std::string newer = "a.pak=" + kpatch::md5_hex("alpha2") + "\t6\n";
        route(R"({"path": "/get/a.pak", "times": 1, "body": "alphX", "effects": )" +
              kest_test::PublishedTree::publish_effects(newer) + "}");
    }
    bool logged(const std::wstring& text) {
        std::lock_guard lock(mutex);
        for (const auto& l : lines)
            if (l.find(text) != std::wstring::npos) return true;
        return false;
    }
    bool no_part_files() {
        for (const auto& name : kest_test::list_folder(game.path()))
            if (name.ends_with(L".part")) return false;
        return true;
    }

    kest_test::PublishedTree tree;
    kest_test::TempDir game;
    std::unique_ptr<kest_test::TestServer> server;
    kest_test::FakeUI ui;
    kpatch::HashCache cache;
    std::atomic<bool> stopping{false};
    std::string index_bytes;
    // The demo key, which development builds trust.
    std::span<const kpatch::PublicKey> keys = kpatch::compiled_in_trusted_keys();
    std::mutex mutex;
    std::vector<std::wstring> lines;
};

TEST_F(DownloadPhase, InstallsEveryFileAndRecordsItInTheCache) {
    tree.publish({{L"a.pak", "alpha"}, {L"data\\b.pak", std::string(70000, 'b')}, {L"launcher.exe", "new launcher"}});
    start_server();
    DownloadOutcome out = run();
    EXPECT_EQ(out.kind, DownloadOutcome::Installed);
    EXPECT_EQ(out.downloaded, 3);
    EXPECT_TRUE(out.launcher_replaced);
    EXPECT_EQ(kest_test::read_file(local(L"data\\b.pak")), std::string(70000, 'b'));
    EXPECT_EQ(cache.size(), 3u);
    EXPECT_EQ(ui.status(), L"Downloading launcher.exe  (3/3)");
    EXPECT_TRUE(logged(L"[kestpatcher] download " + server->url(L"/get/data/b.pak") + L"\n"));
    EXPECT_TRUE(no_part_files());
}

TEST_F(DownloadPhase, ACorruptFirstDownloadIsHealedByTheRetry) {
    tree.publish({{L"a.pak", "alpha"}});
    start_server();
    route(R"({"path": "/get/a.pak", "times": 1, "body": "alphX"})");
    DownloadOutcome out = run();
    EXPECT_EQ(out.kind, DownloadOutcome::Installed);
    EXPECT_EQ(kest_test::read_file(local(L"a.pak")), "alpha");
    EXPECT_TRUE(logged(L"[kestpatcher] integrity healed on retry: a.pak\n"));
    auto requests = server->requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().path, "/get/a.pak?v=" + kpatch::md5_hex("alpha"));
}

TEST_F(DownloadPhase, ANewIndexPublishedMeanwhileRestartsThePassWhileTheBudgetLasts) {
    tree.publish({{L"a.pak", "alpha"}});
    start_server();
    // The server publishes a new release while the first download is in flight.
    corrupt_first_download_and_publish_a_new_index();
    DownloadOutcome out = run(1);
    EXPECT_EQ(out.kind, DownloadOutcome::Restart);
    EXPECT_EQ(ui.status(), L"A new update was published \u2014 starting the update again...");
    EXPECT_FALSE(kest_test::file_exists(local(L"a.pak")));
    EXPECT_TRUE(no_part_files());
}

TEST_F(DownloadPhase, WithNoRestartLeftTheFileIsRetriedInstead) {
    tree.publish({{L"a.pak", "alpha"}});
    start_server();
    corrupt_first_download_and_publish_a_new_index();
    DownloadOutcome out = run(0);
    EXPECT_EQ(out.kind, DownloadOutcome::Installed);
    EXPECT_EQ(kest_test::read_file(local(L"a.pak")), "alpha");
    for (const auto& r : server->requests()) EXPECT_NE(r.path, "/index.txt") << "no re-fetch without a budget";
}

TEST_F(DownloadPhase, ABodyBeyondTheSignedSizeIsStoppedAndCountsAsCorrupt) {
    tree.publish({{L"a.pak", "alpha"}, {L"b.pak", "beta"}});
    start_server();
    ASSERT_TRUE(kest_test::write_file(local(L"a.pak"), "old a"));
    route(R"({"path": "/get/a.pak", "prefix": true, "body_b64": ")" + base64(std::string(300000, 'x')) + R"("})");
    route(R"({"path": "/get/b.pak", "prefix": true, "mode": "endless"})");
    for (const wchar_t* name : {L"a.pak", L"b.pak"}) {
        auto entries = tree.entries();
        std::erase_if(entries, [&](const auto& e) { return e.path != name; });
        DownloadOutcome out = run(0, entries);
        EXPECT_EQ(out.kind, DownloadOutcome::Failed) << name;
        EXPECT_EQ(out.error, L"integrity verification failed");
        EXPECT_EQ(out.final_text, std::wstring(L"Error: ") + name +
                                      L" \u2014 integrity verification failed \u2014 patching blocked.");
        EXPECT_TRUE(no_part_files());
    }
    EXPECT_EQ(kest_test::read_file(local(L"a.pak")), "old a") << "the old file survives";
}

TEST_F(DownloadPhase, ACutConnectionKeepsTheOldFileAndFailsThePass) {
    tree.publish({{L"a.pak", std::string(50000, 'n')}});
    start_server();
    ASSERT_TRUE(kest_test::write_file(local(L"a.pak"), "old"));
    route(R"({"path": "/get/a.pak", "mode": "truncate", "truncate_at": 20000, "body_b64": ")" +
          base64(std::string(50000, 'n')) + R"("})");
    DownloadOutcome out = run();
    EXPECT_EQ(out.kind, DownloadOutcome::Failed);
    EXPECT_TRUE(out.error.starts_with(L"read failed") || out.error.starts_with(L"query data failed"))
        << out.error.c_str();
    EXPECT_EQ(kest_test::read_file(local(L"a.pak")), "old");
    EXPECT_TRUE(no_part_files());
}

TEST_F(DownloadPhase, StoppingMidTransferEndsQuietlyAndKeepsTheOldFile) {
    tree.publish({{L"a.pak", std::string(400000, 's')}, {L"b.pak", "b"}});
    start_server();
    ASSERT_TRUE(kest_test::write_file(local(L"a.pak"), "old"));
    route(R"({"path": "/get/a.pak", "mode": "slow", "chunk": 4096, "interval_ms": 50, "body_b64": ")" +
          base64(std::string(400000, 's')) + R"("})");
    std::thread closer([this] {
        Sleep(400);
        stopping = true;
    });
    DownloadOutcome out = run();
    closer.join();
    EXPECT_EQ(out.kind, DownloadOutcome::Stopped);
    EXPECT_EQ(kest_test::read_file(local(L"a.pak")), "old");
    EXPECT_FALSE(kest_test::file_exists(local(L"b.pak")));
    EXPECT_TRUE(no_part_files());
}

TEST_F(DownloadPhase, AFileHeldOpenByAnotherProgramIsReportedInUse) {
    tree.publish({{L"a.pak", "alpha"}});
    start_server();
    ASSERT_TRUE(kest_test::write_file(local(L"a.pak"), "old"));
    HANDLE held = CreateFileW(local(L"a.pak").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    DownloadOutcome out = run();
    CloseHandle(held);
    EXPECT_EQ(out.kind, DownloadOutcome::Failed);
    EXPECT_EQ(out.error, L"cannot replace the file \u2014 it is in use (is the game already running?)");
    EXPECT_TRUE(out.win_error == ERROR_ACCESS_DENIED || out.win_error == ERROR_SHARING_VIOLATION) << out.win_error;
    EXPECT_EQ(kest_test::read_file(local(L"a.pak")), "old");
    EXPECT_TRUE(no_part_files());
}

TEST_F(DownloadPhase, EmptyFilesShowFullTotalProgressAfterEach) {
    tree.publish({{L"empty1", ""}, {L"empty2", ""}});
    start_server();
    EXPECT_EQ(run().kind, DownloadOutcome::Installed);
    auto calls = ui.calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "total 100"), 2);
    EXPECT_TRUE(kest_test::file_exists(local(L"empty2")));
}

TEST(DownloadTexts, MoveFailures) {
    EXPECT_EQ(kpatch::replace_failure_text(ERROR_ACCESS_DENIED), kpatch::kFileInUse);
    EXPECT_EQ(kpatch::replace_failure_text(ERROR_SHARING_VIOLATION), kpatch::kFileInUse);
    EXPECT_EQ(kpatch::replace_failure_text(ERROR_DISK_FULL), L"cannot replace the downloaded file (error 112)");
}

}  // namespace
