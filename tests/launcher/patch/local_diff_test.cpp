#include "launcher/patch/local_diff.h"
#include "launcher/patch/md5.h"

#include "common/localization.h"
#include "tests/support/fake_ui.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <set>

namespace {

using kpatch::PatchEntry;

// A game folder with files and an index that matches them.
class LocalDiff : public ::testing::Test {
protected:
    PatchEntry add(const std::wstring& path, const std::string& content) {
        std::wstring full = dir / path;
        CreateDirectoryW(full.substr(0, full.rfind(L'\\')).c_str(), nullptr);
        EXPECT_TRUE(kest_test::write_file(full, content));
        PatchEntry e{path, kpatch::md5_hex(content), static_cast<std::int64_t>(content.size())};
        index.push_back(e);
        return e;
    }
    std::vector<std::wstring> diff(bool repair) {
        hashed.clear();
        auto out = kpatch::diff_local(index, dir.path(), cache, repair,
                                      [this](const std::wstring& path, auto, auto, auto, auto) {
                                          hashed.insert(path);
                                          return true;
                                      });
        std::vector<std::wstring> paths;
        for (const auto& e : out) paths.push_back(e.path);
        return paths;
    }
    void touch(const std::wstring& path) {
        HANDLE h = CreateFileW((dir / path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        FILETIME t{0x12345678, 0x01d00000};
        SetFileTime(h, nullptr, nullptr, &t);
        CloseHandle(h);
    }
    kest_test::TempDir dir;
    std::vector<PatchEntry> index;
    kpatch::HashCache cache;
    std::set<std::wstring> hashed;
};

TEST_F(LocalDiff, FirstCheckHashesThenTheCacheDecidesWithoutReading) {
    add(L"a.pak", "aaaa");
    add(L"sub\\b.pak", "bbbbbb");
    index.push_back(PatchEntry{L"missing.pak", kpatch::md5_hex("x"), 1});
    EXPECT_EQ(diff(false), std::vector<std::wstring>{L"missing.pak"});
    EXPECT_EQ(hashed, (std::set<std::wstring>{L"a.pak", L"sub\\b.pak"}));
    EXPECT_EQ(cache.size(), 2u);

    EXPECT_EQ(diff(false), std::vector<std::wstring>{L"missing.pak"});
    EXPECT_TRUE(hashed.empty()) << "a trusted cache record must save reading the file";
}

TEST_F(LocalDiff, AWrongSizeIsDownloadedWithoutHashing) {
    PatchEntry e = add(L"a.pak", "aaaa");
    index[0].size = 5;
    EXPECT_EQ(diff(false), std::vector<std::wstring>{L"a.pak"});
    EXPECT_TRUE(hashed.empty());
    EXPECT_TRUE(cache.empty());
}

TEST_F(LocalDiff, ATouchedFileIsRehashedAndTheCacheTakesTheNewTime) {
    add(L"a.pak", "aaaa");
    diff(false);
    auto before = cache.begin()->second;
    touch(L"a.pak");
    EXPECT_TRUE(diff(false).empty());
    EXPECT_EQ(hashed, std::set<std::wstring>{L"a.pak"});
    EXPECT_NE(cache.begin()->second.mtime, before.mtime);
    EXPECT_EQ(cache.begin()->second.hash, before.hash);
}

TEST_F(LocalDiff, ChangedContentBehindAStaleCacheIsCaughtByTheTime) {
    add(L"a.pak", "aaaa");
    diff(false);
    ASSERT_TRUE(kest_test::write_file(dir / L"a.pak", "abcd"));  // same size, new content
    touch(L"a.pak");
    EXPECT_EQ(diff(false), std::vector<std::wstring>{L"a.pak"});
}

TEST_F(LocalDiff, RepairHashesEveryRightSizedFile) {
    add(L"a.pak", "aaaa");
    add(L"b.pak", "bb");
    diff(false);
    // The cache vouches for content that is no longer there: only a repair finds out.
    cache[kpatch::cache_key(L"b.pak")].hash = kpatch::md5_hex("bb");
    ASSERT_TRUE(kest_test::write_file(dir / L"b.pak", "xx"));
    auto facts = cache[kpatch::cache_key(L"b.pak")];
    kpatch::local_file_facts(dir / L"b.pak", facts.size, facts.mtime);
    cache[kpatch::cache_key(L"b.pak")] = facts;
    EXPECT_TRUE(diff(false).empty());
    EXPECT_EQ(diff(true), std::vector<std::wstring>{L"b.pak"});
    EXPECT_EQ(hashed, (std::set<std::wstring>{L"a.pak", L"b.pak"}));
}

TEST_F(LocalDiff, AnUpperCaseIndexHashMatches) {
    add(L"a.pak", "aaaa");
    for (char& c : index[0].hash) c = static_cast<char>(toupper(c));
    EXPECT_TRUE(diff(false).empty());
    EXPECT_TRUE(diff(false).empty()) << "and through the cache too";
}

TEST_F(LocalDiff, CancelReturnsNothingAndKeepsWhatWasHashed) {
    add(L"a.pak", "aaaa");
    add(L"b.pak", "bbbb");
    index.push_back(PatchEntry{L"missing.pak", "x", 1});
    auto out = kpatch::diff_local(index, dir.path(), cache, false,
                                  [](const std::wstring& path, auto, auto, auto, auto) { return path != L"b.pak"; });
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(cache.size(), 1u);
    EXPECT_EQ(cache.count("a.pak"), 1u);
}

TEST_F(LocalDiff, AFolderOfManyEntriesIsReadAsTheFilesThemselvesWouldBe) {
    for (int i = 0; i < 12; ++i) add(L"pack\\f" + std::to_wstring(i) + L".dat", std::string(i + 1, 'p'));
    index[3].path = L"PACK\\F3.DAT";        // another spelling of the same file
    index[4].size = 99;                      // a wrong size
    ASSERT_TRUE(DeleteFileW((dir / L"pack\\f5.dat").c_str()));
    DeleteFileW((dir / L"pack\\f6.dat").c_str());
    ASSERT_TRUE(CreateDirectoryW((dir / L"pack\\f6.dat").c_str(), nullptr));  // a folder is no file
    EXPECT_EQ(diff(false), (std::vector<std::wstring>{L"pack\\f4.dat", L"pack\\f5.dat", L"pack\\f6.dat"}));
    EXPECT_EQ(diff(false), (std::vector<std::wstring>{L"pack\\f4.dat", L"pack\\f5.dat", L"pack\\f6.dat"}));
    EXPECT_TRUE(hashed.empty()) << "the listing's times match the cache's";
}

TEST(CheckProgressDisplay, TouchesTheWindowOnlyWhenSomethingShownChanges) {
    kest_test::FakeUI ui;
    std::atomic<bool> stopping{false};
    kpatch::CheckProgressDisplay display(&ui, stopping, false);
    EXPECT_TRUE(display(L"data\\a.pak", 0, 200, 0, 1000));
    EXPECT_EQ(ui.status(), L"Checking files... 0%  \u2014  a.pak");
    display(L"data\\a.pak", 1, 200, 1, 1000);    // nothing visible changed
    display(L"data\\a.pak", 100, 200, 100, 1000);  // file 50 %, total 10 %
    EXPECT_EQ(ui.calls(), (std::vector<std::string>{"status", "total 0", "file 0", "status", "total 10", "file 50"}));

    kpatch::CheckProgressDisplay repair(&ui, stopping, true);
    repair(L"b.pak", 0, 0, 0, 0);  // empty totals read as 100 %
    EXPECT_EQ(ui.status(), L"Repairing: checking every file... 100%  \u2014  b.pak");
    stopping = true;
    EXPECT_FALSE(repair(L"b.pak", 0, 0, 0, 0));
}

}  // namespace
