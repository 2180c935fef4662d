// The launcher's swap of its own file, on real files (a stand-in file plays the launcher).
#include "launcher/core/self_update.h"

#include "launcher/patch/md5.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

class SelfUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        SetEnvironmentVariableW(kpatch::kSelfUpdatedVariable, nullptr);
        ASSERT_TRUE(kest_test::write_file(launcher, "old launcher"));
        ASSERT_TRUE(kest_test::write_file(dir / L"launcher.update", "new launcher"));
    }
    void TearDown() override { SetEnvironmentVariableW(kpatch::kSelfUpdatedVariable, nullptr); }
    std::vector<kpatch::PatchEntry> index(const std::string& content = "new launcher") {
        return {{L"data.pak", kpatch::md5_hex("x"), 1},
                {L"Launcher.UPDATE", kpatch::md5_hex(content), static_cast<std::int64_t>(content.size())}};
    }
    kest_test::TempDir dir;
    std::wstring launcher = dir / L"launcher.exe";
};

TEST(SelfUpdateNames, UpdateEntryName) {
    EXPECT_EQ(kpatch::update_entry_name(L"launcher.exe"), L"launcher.update");
    EXPECT_EQ(kpatch::update_entry_name(L"Kest.EXE"), L"Kest.update");
    EXPECT_EQ(kpatch::update_entry_name(L"launcher"), L"launcher.update");
    EXPECT_EQ(kpatch::update_entry_name(L".exe"), L".exe.update");
}

TEST_F(SelfUpdate, SwapsInTheVerifiedUpdateAndMarksTheEnvironment) {
    std::wstring error;
    EXPECT_EQ(kpatch::self_update(dir.path(), launcher, index(), &error), kpatch::SelfUpdateInstalled) << error.c_str();
    EXPECT_EQ(kest_test::read_file(launcher), "new launcher");
    EXPECT_EQ(kest_test::read_file(launcher + L".old"), "old launcher");
    EXPECT_FALSE(kest_test::file_exists(launcher + L".new"));
    wchar_t marker[40] = {};
    GetEnvironmentVariableW(kpatch::kSelfUpdatedVariable, marker, 40);
    const std::string hash = index()[1].hash;
    EXPECT_EQ(std::wstring(marker), std::wstring(hash.begin(), hash.end()));

    // The restarted launcher does not update itself again, and cleans up.
    EXPECT_EQ(kpatch::self_update(dir.path(), launcher, index(), &error), kpatch::SelfUpdateNothing);
    kpatch::remove_old_launcher(launcher);
    EXPECT_FALSE(kest_test::file_exists(launcher + L".old"));
}

TEST_F(SelfUpdate, NothingToDo) {
    EXPECT_EQ(kpatch::self_update(dir.path(), launcher, {{L"data.pak", "h", 1}}, nullptr), kpatch::SelfUpdateNothing);
    EXPECT_EQ(kpatch::self_update(dir.path(), launcher, index("old launcher"), nullptr), kpatch::SelfUpdateNothing)
        << "the entry is the running launcher";
    EXPECT_EQ(kest_test::read_file(launcher), "old launcher");
    EXPECT_FALSE(kest_test::file_exists(launcher + L".old"));
}

TEST_F(SelfUpdate, AnUpdateFileThatDoesNotMatchTheIndexIsRefused) {
    ASSERT_TRUE(kest_test::write_file(dir / L"launcher.update", "tampered!!!!"));
    std::wstring error;
    EXPECT_EQ(kpatch::self_update(dir.path(), launcher, index(), &error), kpatch::SelfUpdateFailed);
    EXPECT_EQ(error, L"the update file does not match the signed index");
    EXPECT_EQ(kest_test::read_file(launcher), "old launcher");
    EXPECT_FALSE(kest_test::file_exists(launcher + L".new"));
}

TEST_F(SelfUpdate, ALockedLauncherFailsAtTheRenameAndStaysAsItWas) {
    HANDLE held = CreateFileW(launcher.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::wstring error;
    DWORD code = 0;
    EXPECT_EQ(kpatch::self_update(dir.path(), launcher, index(), &error, &code), kpatch::SelfUpdateFailed);
    CloseHandle(held);
    EXPECT_TRUE(error.starts_with(L"cannot rename the running launcher (error ")) << error.c_str();
    EXPECT_NE(code, 0u);
    EXPECT_EQ(kest_test::read_file(launcher), "old launcher");
    EXPECT_FALSE(kest_test::file_exists(launcher + L".new"));
    EXPECT_FALSE(kest_test::file_exists(launcher + L".old"));
}

TEST_F(SelfUpdate, AnOldFileThatStaysLockedIsLeftForTheNextStart) {
    ASSERT_TRUE(kest_test::write_file(launcher + L".old", "still running"));
    HANDLE held = CreateFileW((launcher + L".old").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    DWORD start = GetTickCount();
    kpatch::remove_old_launcher(launcher);
    EXPECT_GE(GetTickCount() - start, 2500u) << "15 tries, 200 ms apart";
    EXPECT_TRUE(kest_test::file_exists(launcher + L".old"));
    CloseHandle(held);
    kpatch::remove_old_launcher(launcher);
    EXPECT_FALSE(kest_test::file_exists(launcher + L".old"));
}

}  // namespace
