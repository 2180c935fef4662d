// The settings store across processes: the named lock, the atomic replace against open
// readers, concurrent writers, and the graphics quality operations.
#include "common/graphics_quality.h"
#include "common/settings_edit.h"
#include "common/settings_lock.h"

#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using kest_test::ChildProcess;
using kest_test::ReadySignal;

namespace {

TEST(SettingsLock, WriterGivesUpWithoutTouchingTheFileWhileAnotherProcessHoldsTheLock) {
    kest_test::TempDir dir;
    std::wstring path = dir / L"settings.cfg";
    ASSERT_TRUE(kest_test::write_file(path, "[graphics]\nquality=1\n"));
    ReadySignal ready;
    // Held well past the 5 s wait; the holder is killed when the test ends.
    ChildProcess holder(kest_test::helper_exe(), {L"hold-lock", L"15000", ready.name()});
    ASSERT_TRUE(holder.started());
    ASSERT_TRUE(ready.wait(10000));

    bool saved = true;
    std::thread writer([&] { saved = kpatch::write_graphics_quality(path, 3); });
    kpatch::SettingsLock lock;
    writer.join();
    EXPECT_FALSE(lock.owned());
    EXPECT_EQ(lock.wait_result(), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(lock.error(), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_FALSE(saved);
    EXPECT_EQ(kest_test::read_file(path), "[graphics]\nquality=1\n");
}

TEST(SettingsLock, AnAbandonedLockCountsAsAcquired) {
    // Keep the mutex alive across the owner's death, as any other running program would.
    kpatch::unique_kernel_handle keep(CreateMutexW(nullptr, FALSE, kpatch::SettingsLock::kMutexName));
    ReadySignal ready;
    ChildProcess owner(kest_test::helper_exe(), {L"abandon-lock", ready.name()});
    ASSERT_TRUE(ready.wait(10000));
    ASSERT_EQ(owner.wait(10000), 0);

    kpatch::SettingsLock lock;
    EXPECT_TRUE(lock.owned());
    EXPECT_EQ(lock.wait_result(), static_cast<DWORD>(WAIT_ABANDONED));
}

TEST(SettingsSave, AReaderWithoutDeleteSharingMakesTheReplaceRetry) {
    kest_test::TempDir dir;
    std::wstring path = dir / L"settings.cfg";
    ASSERT_TRUE(kest_test::write_file(path, "[a]\nk=old\n"));
    ReadySignal ready;
    // Held past the first attempt (0 ms) and released before the third (60 + 120 ms).
    ChildProcess reader(kest_test::helper_exe(), {L"hold-file", path, L"100", ready.name()});
    ASSERT_TRUE(ready.wait(10000));

    kpatch::SettingsDocument doc;
    ASSERT_TRUE(doc.load(path));
    doc.set("a", "k", "new");
    DWORD start = GetTickCount();
    ASSERT_TRUE(doc.save(path));
    EXPECT_GE(GetTickCount() - start, 55u) << "the first attempt should have met the open reader";
    EXPECT_EQ(kest_test::read_file(path), "[a]\r\nk=new\r\n");
}

TEST(SettingsSave, AReaderHoldingOnPastTheRetriesLeavesTheOldFile) {
    kest_test::TempDir dir;
    std::wstring path = dir / L"settings.cfg";
    ASSERT_TRUE(kest_test::write_file(path, "[a]\nk=old\n"));
    ReadySignal ready;
    ChildProcess reader(kest_test::helper_exe(), {L"hold-file", path, L"3000", ready.name()});
    ASSERT_TRUE(ready.wait(10000));

    kpatch::SettingsDocument doc;
    doc.set("a", "k", "new");
    DWORD error = 0;
    EXPECT_FALSE(doc.save(path, &error));
    EXPECT_TRUE(error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) << error;
    EXPECT_EQ(kest_test::read_file(path), "[a]\nk=old\n");
    for (const auto& name : kest_test::list_folder(dir.path()))
        EXPECT_TRUE(name == L"settings.cfg" || name.rfind(L"rf", 0) == 0) << "left behind: " << name.c_str();
}

TEST(SettingsSave, ConcurrentWritersInSeveralProcessesLoseNoChange) {
    kest_test::TempDir dir;
    std::wstring path = dir / L"settings.cfg";
    ASSERT_TRUE(kest_test::write_file(path, "; shared by everyone\n[locale]\nlanguage=en\n"));
    constexpr int kWriters = 4, kKeys = 8;
    std::vector<std::unique_ptr<ChildProcess>> writers;
    for (int w = 0; w < kWriters; ++w) {
        std::wstring prefix = L"w" + std::to_wstring(w) + L"_";
        writers.push_back(std::make_unique<ChildProcess>(
            kest_test::helper_exe(),
            std::vector<std::wstring>{L"write-keys", path, L"stress", prefix, std::to_wstring(kKeys)}));
    }
    for (auto& w : writers) EXPECT_EQ(w->wait(60000), 0);

    kpatch::SettingsDocument doc;
    ASSERT_TRUE(doc.load(path));
    EXPECT_EQ(doc.value("locale", "language"), "en");
    for (int w = 0; w < kWriters; ++w)
        for (int k = 0; k < kKeys; ++k)
            EXPECT_EQ(doc.value("stress", "w" + std::to_string(w) + "_" + std::to_string(k)), "v" + std::to_string(k));
}

TEST(SettingsEdit, AFileThatCannotBeReadIsNeverOverwritten) {
    kest_test::TempDir dir;
    std::wstring path = dir / L"settings.cfg";
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));  // exists, but is no file
    bool edited = false;
    EXPECT_FALSE(kpatch::edit_settings(path, [&](kpatch::SettingsDocument&) { return edited = true; }));
    EXPECT_FALSE(edited);
}

TEST(GraphicsQuality, KeepsIndentationAndAppendsMeta) {
    kest_test::TempDir dir;
    std::wstring path = dir / L"settings.cfg";
    ASSERT_TRUE(kest_test::write_file(path, "[Graphics]\n  Quality = 3\n"));
    EXPECT_EQ(kpatch::read_graphics_quality(path), 3);

    kpatch::unique_kernel_handle changed(CreateEventW(nullptr, TRUE, FALSE, kpatch::kSettingsChangedEventName));
    ASSERT_TRUE(kpatch::write_graphics_quality(path, 1));
    EXPECT_EQ(kest_test::read_file(path), "[Graphics]\r\n  Quality=1\r\n[meta]\r\nversion=1\r\n");
    EXPECT_EQ(WaitForSingleObject(changed.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST(GraphicsQuality, ReadsDefaultsAndUnclampedValues) {
    kest_test::TempDir dir;
    std::wstring path = dir / L"settings.cfg";
    EXPECT_EQ(kpatch::read_graphics_quality(path), 2);  // no file
    for (auto [text, level] : {std::pair{"[graphics]\nquality=ultra\n", 2}, {"[graphics]\nquality=\n", 2},
                               {"[graphics]\nquality=7\n", 7}, {"[other]\nquality=1\n", 2}}) {
        ASSERT_TRUE(kest_test::write_file(path, text));
        EXPECT_EQ(kpatch::read_graphics_quality(path), level) << text;
    }
}

TEST(GraphicsQuality, AFailedSaveSignalsNothing) {
    kest_test::TempDir dir;
    kpatch::unique_kernel_handle changed(CreateEventW(nullptr, TRUE, FALSE, kpatch::kSettingsChangedEventName));
    ResetEvent(changed.get());
    EXPECT_FALSE(kpatch::write_graphics_quality(dir / L"missing\\settings.cfg", 1));
    EXPECT_EQ(WaitForSingleObject(changed.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

}  // namespace
