// What the operator's kest-publish makes is what the launcher accepts: a tree published with
// the demo key verifies through fetch_index from a loopback server; one signed with another
// key is refused.
#include "launcher/patch/update_index.h"

#include "common/utf8.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

class PublishedByTheTool : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryW((dir / L"game").c_str(), nullptr);
        CreateDirectoryW((dir / L"game\\data").c_str(), nullptr);
        CreateDirectoryW((dir / L"v2").c_str(), nullptr);
        ASSERT_TRUE(kest_test::write_file(dir / L"game\\data\\a.pak", "alpha"));
        ASSERT_TRUE(kest_test::write_file(dir / L"game\\kest.exe", "client"));
        ASSERT_TRUE(kest_test::write_file(dir / L"game\\settings.cfg", "[locale]\nlanguage=en\n"));
        ASSERT_TRUE(kest_test::write_file(dir / L"v2\\Kest.exe", "v2 client"));
    }
    long publish(const std::string& secret, const std::wstring& out) {
        return kest_test::run_unix_program({KEST_PUBLISH_EXE, "publish", secret, kest_test::unix_path(out),
                                            kest_test::unix_path(dir / L"game"), kest_test::unix_path(dir / L"v2"),
                                            "alpha-1"});
    }
    kest_test::TempDir dir;
};

TEST_F(PublishedByTheTool, TheLauncherAcceptsTheDemoKeysTreeAndRefusesAnotherKey) {
    ASSERT_EQ(publish(KEST_DEMO_SECRET_FILE, dir / L"server"), 0);
    kest_test::TestServer server({dir / L"server"});
    ASSERT_TRUE(server.ok()) << server.error();
    for (const wchar_t* index_path : {L"index.txt", L"unity/win/index.txt"}) {
        std::string index;
        std::wstring error;
        EXPECT_EQ(kpatch::fetch_index_from(server.url(L"/"), index_path, index, &error, nullptr, nullptr,
                                           kpatch::compiled_in_trusted_keys()),
                  kpatch::FetchOk)
            << error.c_str();
    }
    std::string index;
    kpatch::fetch_index_from(server.url(L"/"), L"index.txt", index, nullptr, nullptr, nullptr,
                             kpatch::compiled_in_trusted_keys());
    auto entries = kpatch::parse_index(index);
    ASSERT_EQ(entries.size(), 2u) << "settings.cfg is never published";
    EXPECT_EQ(entries[0].path, L"data/a.pak");
    EXPECT_EQ(entries[1].path, L"kest.exe");
    EXPECT_EQ(kest_test::read_file(dir / L"server\\get\\data\\a.pak"), "alpha");

    ASSERT_EQ(kest_test::run_unix_program({KEST_PUBLISH_EXE, "keygen", kest_test::unix_path(dir / L"other-key")}), 0);
    ASSERT_EQ(publish(kest_test::unix_path(dir / L"other-key\\kest-ed25519.secret"), dir / L"other"), 0);
    kest_test::TestServer other({dir / L"other"});
    ASSERT_TRUE(other.ok()) << other.error();
    EXPECT_EQ(kpatch::fetch_index_from(other.url(L"/"), L"index.txt", index, nullptr, nullptr, nullptr,
                                       kpatch::compiled_in_trusted_keys()),
              kpatch::FetchBadSignature);
}

}  // namespace
