// Run by disk_full_test.sh with a 2 MiB drive mapped as Q:. A download that does not fit
// fails with the write text and ERROR_DISK_FULL, and the old file survives.
#include "launcher/patch/download.h"

#include "tests/support/fake_ui.h"
#include "tests/support/files.h"
#include "tests/support/published_tree.h"
#include "tests/support/test_server.h"

#include <gtest/gtest.h>

namespace {

TEST(DiskFull, ADownloadThatDoesNotFitFailsCleanlyAndKeepsTheOldFile) {
    const std::wstring root = L"Q:\\game";
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        << "Q: must be the small drive (run through disk_full_test.sh)";
    ASSERT_TRUE(kest_test::write_file(root + L"\\big.pak", "the old file"));

    kest_test::PublishedTree tree;
    tree.publish({{L"big.pak", std::string(3 * 1048576, 'f')}});
    kest_test::TestServer server({tree.path()});
    ASSERT_TRUE(server.ok()) << server.error();
    kest_test::FakeUI ui;
    kpatch::HashCache cache;
    std::atomic<bool> stopping{false};
    const std::string index = tree.index();
    const auto entries = tree.entries();
    kpatch::DownloadPhase phase{&ui,  kpatch::legacy_target, server.url(L"/"), kpatch::compiled_in_trusted_keys(),
                                index, entries, cache, root, 0, stopping, L"launcher.exe"};
    kpatch::DownloadOutcome out = kpatch::run_download_phase(phase);
    EXPECT_EQ(out.kind, kpatch::DownloadOutcome::Failed);
    EXPECT_EQ(out.error, L"write failed");
    EXPECT_EQ(out.win_error, static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(kest_test::read_file(root + L"\\big.pak"), "the old file");
    EXPECT_FALSE(kest_test::file_exists(root + L"\\big.pak.part"));
}

}  // namespace
