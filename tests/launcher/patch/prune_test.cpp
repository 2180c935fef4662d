#include "launcher/patch/prune.h"

#include "common/debug_log.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

namespace {

using kpatch::PatchEntry;

std::vector<PatchEntry> entries(std::initializer_list<const wchar_t*> paths) {
    std::vector<PatchEntry> out;
    for (const wchar_t* p : paths) out.push_back(PatchEntry{p, "0123456789abcdef0123456789abcdef", 1});
    return out;
}

std::vector<std::wstring> sorted(std::vector<std::wstring> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST(Packs, NameRule) {
    for (auto [name, pack] : {std::pair{L"kest_patch_001.kpk", true}, {L"KEST_PATCH_2.KDX", true},
                              {L"kest_patch_.kpk", true}, {L"kest_patch_1.kpkx", false}, {L"kest_patch1.kpk", false},
                              {L"my_kest_patch_1.kpk", false}, {L"kest_patch_1.txt", false}})
        EXPECT_EQ(kpatch::is_pack_name(name), pack) << name;
}

TEST(Packs, SupersededPacksAreThoseTheIndexDoesNotName) {
    std::vector<std::wstring> found = {L"kest_patch_1.kpk", L"kest_patch_2.kpk", L"kest_patch_3.kdx", L"readme.txt",
                                       L"kest_patch_notes.txt"};
    EXPECT_EQ(kpatch::superseded_packs(entries({L"pack/KEST_PATCH_1.KPK", L"other\\kest_patch_2.kpk", L"x.dat"}), found),
              std::vector<std::wstring>{L"kest_patch_3.kdx"});
    EXPECT_EQ(sorted(kpatch::superseded_packs(entries({L"x.dat"}), found)),
              (std::vector<std::wstring>{L"kest_patch_1.kpk", L"kest_patch_2.kpk", L"kest_patch_3.kdx"}));
    EXPECT_TRUE(kpatch::superseded_packs({}, found).empty()) << "an empty index never deletes packs";
}

TEST(Packs, PrunePacksDeletesOnlyTheSupersededFiles) {
    kest_test::TempDir root;
    CreateDirectoryW((root / L"pack").c_str(), nullptr);
    for (const wchar_t* name : {L"kest_patch_1.kpk", L"kest_patch_2.kpk", L"kest_patch_3.kpk", L"kest_patch_x.txt"})
        kest_test::write_file(root / (std::wstring(L"pack\\") + name), "p");
    CreateDirectoryW((root / L"pack\\kest_patch_dir.kpk").c_str(), nullptr);
    EXPECT_EQ(kpatch::prune_packs(entries({L"pack\\kest_patch_1.kpk", L"pack/Kest_Patch_2.KPK"}), root.path()), 1);
    EXPECT_EQ(sorted(kest_test::list_folder(root / L"pack")),
              (std::vector<std::wstring>{L"kest_patch_1.kpk", L"kest_patch_2.kpk", L"kest_patch_dir.kpk",
                                         L"kest_patch_x.txt"}));
    kest_test::TempDir empty;
    EXPECT_EQ(kpatch::prune_packs(entries({L"a"}), empty.path()), 0) << "no pack folder";
}

TEST(UnityPrune, PrunablePaths) {
    for (auto [path, ok] : {std::pair{L"a/b.dat", true}, {L"a\\b", true}, {L"./a", false}, {L"a/./b", false},
                            {L"a//b", false}, {L"a/", false}, {L"../a", false}, {L"C:a", false}, {L"..a", true}})
        EXPECT_EQ(kpatch::is_prunable_path(path), ok) << path;
}

TEST(UnityPrune, DroppedPathsIgnoreCaseAndSeparators) {
    auto old_list = entries({L"Data/A.dat", L"data\\b.dat", L"gone.dat", L"./dot.dat", L"x//y.dat"});
    auto new_list = entries({L"data\\a.DAT", L"DATA/B.dat"});
    EXPECT_EQ(kpatch::dropped_paths(old_list, new_list), std::vector<std::wstring>{L"gone.dat"});
    EXPECT_TRUE(kpatch::dropped_paths({}, new_list).empty());
    EXPECT_TRUE(kpatch::dropped_paths(old_list, {}).empty()) << "an empty new index never empties the tree";
}

TEST(UnityPrune, DeletesWhatTheNewIndexDroppedOnce) {
    kest_test::TempDir root;
    CreateDirectoryW((root / L"data").c_str(), nullptr);
    for (const wchar_t* name : {L"data\\keep.dat", L"data\\gone.dat", L"extra.dat"})
        kest_test::write_file(root / name, "u");
    std::vector<std::wstring> lines;
    kpatch::set_debug_sink([&](const std::wstring& l) { lines.push_back(l); });
    auto old_list = entries({L"data/keep.dat", L"data/gone.dat"});
    auto new_list = entries({L"data/keep.dat"});
    EXPECT_EQ(kpatch::prune_unity(old_list, new_list, root.path()), 1);
    EXPECT_EQ(kpatch::prune_unity(old_list, new_list, root.path()), 0);
    kpatch::set_debug_sink(nullptr);
    EXPECT_EQ(lines, std::vector<std::wstring>{L"[kestpatcher] unity prune: data/gone.dat\n"});
    EXPECT_TRUE(kest_test::file_exists(root / L"data\\keep.dat"));
    EXPECT_TRUE(kest_test::file_exists(root / L"extra.dat")) << "files no index named are not touched";
}

TEST(UnityPrune, TheAppliedListIsReadUpToOneMebibyte) {
    kest_test::TempDir root;
    EXPECT_FALSE(kpatch::read_applied_list(root.path()));
    std::string list = "a.dat=0123456789abcdef0123456789abcdef\t1\n";
    std::string big = list + std::string(kpatch::kAppliedListMaxBytes, '#') + "\nb.dat=x\t1\n";
    kest_test::write_file(root / L".index.txt", big);
    auto read = kpatch::read_applied_list(root.path());
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), 1u);
    EXPECT_EQ((*read)[0].path, L"a.dat");
}

}  // namespace
