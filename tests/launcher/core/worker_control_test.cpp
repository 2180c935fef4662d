#include "launcher/core/button_actions.h"
#include "launcher/core/command_line.h"
#include "launcher/core/worker_control.h"

#include "common/debug_log.h"
#include "tests/support/fake_ui.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using kest_test::FakeUI;

// The worker against the development patch server address, served by a loopback server
// whose status document answers slowly, so that a worker is still running when asked again.
class WorkerControl : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.ok()) << server.error();
        ASSERT_TRUE(server.route(R"({"path": "/status.json", "delay_ms": 800, "body": "{}"})"));
        state.worker_ui = &ui;
        kpatch::set_debug_sink([this](const std::wstring& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        });
    }
    void TearDown() override {
        kpatch::stop_patch_worker(state);
        kpatch::set_debug_sink(nullptr);
    }
    int worker_starts() {
        std::lock_guard lock(mutex);
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const std::wstring& l) {
            return l.find(L"worker: repair=") != std::wstring::npos;
        }));
    }
    std::wstring first_start() {
        std::lock_guard lock(mutex);
        for (const auto& l : lines)
            if (l.find(L"worker: repair=") != std::wstring::npos) return l;
        return {};
    }
    kest_test::TempDir empty;
    kest_test::TestServer server{{empty.path(), false, kest_test::kDevPatchServerPort}};
    FakeUI ui;
    kpatch::ProcessState state;
    std::mutex mutex;
    std::vector<std::wstring> lines;
};

TEST_F(WorkerControl, ASecondRequestWhileOneRunsIsDropped) {
    EXPECT_TRUE(kpatch::start_patch_worker(state, false, false, false));
    EXPECT_FALSE(kpatch::start_patch_worker(state, true, false, false));
    kpatch::stop_patch_worker(state);
    EXPECT_EQ(worker_starts(), 1);
    EXPECT_EQ(first_start(), L"[kestpatcher] worker: repair=0 play=0 v2=0\n");
    EXPECT_FALSE(kpatch::start_patch_worker(state, false, false, false)) << "nothing starts once stopping";
}

TEST_F(WorkerControl, AWorkerKeepsItsContractWithTheWindowAndIsReapedWhenDone) {
    ASSERT_TRUE(kpatch::start_patch_worker(state, false, false, false));
    while (state.worker_busy) Sleep(20);
    std::vector<std::string> calls = ui.calls();
    ASSERT_GE(calls.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4),
              (std::vector<std::string>{"tools off", "play off", "file 0", "total 0"}));
    EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()), (std::vector<std::string>{"busy off", "tools on"}));
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "play on"), 0) << "a failed pass leaves Play off";
    EXPECT_EQ(ui.status(), L"Error: cannot reach the update server (http status 404)");
    EXPECT_TRUE(kpatch::start_patch_worker(state, true, false, false)) << "a finished worker makes room";
    kpatch::stop_patch_worker(state);
    EXPECT_EQ(worker_starts(), 2);
}

TEST(ButtonActions, EachButtonDoesItsOneThing) {
    struct Case {
        int button;
        bool worker, repair, play, v2;
        const wchar_t* link;
        int store;  // -1 nothing, 0 legacy, 1 unity
    } cases[] = {
        {kpatch::Play, true, false, true, false, nullptr, -1},
        {1, false, false, false, false, nullptr, -1},
        {kpatch::Discord, false, false, false, false, L"/g/discord", -1},
        {kpatch::Facebook, false, false, false, false, L"/g/facebook", -1},
        {kpatch::Website, false, false, false, false, L"", -1},
        {kpatch::Repair, true, true, false, false, nullptr, -1},
        {kpatch::PlayV2, true, false, true, true, nullptr, -1},
        {kpatch::ChooseV1, false, false, false, false, nullptr, 0},
        {kpatch::ChooseV2, true, false, false, true, nullptr, 1},
        {9, false, false, false, false, nullptr, -1},
        {-1, false, false, false, false, nullptr, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        kpatch::ButtonAction a = kpatch::button_action(static_cast<kpatch::UiButton>(c.button));
        EXPECT_EQ(a.start_worker, c.worker);
        EXPECT_EQ(a.repair, c.repair);
        EXPECT_EQ(a.play, c.play);
        EXPECT_EQ(a.use_v2, c.v2);
        EXPECT_EQ(a.link.has_value(), c.link != nullptr);
        if (c.link && a.link) {
            EXPECT_EQ(*a.link, c.link);
        }
        EXPECT_EQ(a.store_client_v2.has_value(), c.store >= 0);
        if (c.store >= 0 && a.store_client_v2) {
            EXPECT_EQ(*a.store_client_v2, c.store == 1);
        }
    }
}

TEST(CommandLine, RepairIsAWholeArgumentInAnyCase) {
    struct Case {
        const wchar_t* line;
        bool repair;
    } cases[] = {
        {L"launcher.exe --repair", true},
        {L"launcher.exe --REPAIR", true},
        {L"\"C:\\Program Files\\Kest\\launcher.exe\" --Repair", true},
        {L"launcher.exe other --repair", true},
        {L"launcher.exe \"--repair\"", true},
        {L"launcher.exe -repair", false},
        {L"launcher.exe --repairs", false},
        {L"launcher.exe --repair=1", false},
        {L"launcher.exe \"--repair now\"", false},
        {L"--repair", false},  // the program name itself
        {L"launcher.exe", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(kpatch::repair_requested(kpatch::split_command_line(c.line)), c.repair) << c.line;
}

}  // namespace
