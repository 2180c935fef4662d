#include "publish/publish.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class Publish : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("kest-publish-test-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root / "game");
    }
    void TearDown() override { fs::remove_all(root); }
    void put(const fs::path& rel, const std::string& text) {
        fs::create_directories((root / "game" / rel).parent_path());
        std::ofstream(root / "game" / rel, std::ios::binary) << text;
    }
    std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path root;
};

TEST_F(Publish, IndexListsEveryFileInByteOrderAndLeavesOutPlayerFiles) {
    put("b.pak", "bb");
    put("A/z.dat", "");
    put("a.pak", "abc");
    put("launcher.hashcache", "x");
    put("sub/Settings.cfg", "x");
    put("big.pak.part", "x");
    put("unity/.index.txt", "x");
    auto entries = kpublish::scan_game_folder(root / "game", nullptr);
    ASSERT_TRUE(entries);
    EXPECT_EQ(kpublish::index_text(*entries),
              "A/z.dat=d41d8cd98f00b204e9800998ecf8427e\t0\n"
              "a.pak=900150983cd24fb0d6963f7d28e17f72\t3\n"
              "b.pak=21ad0bd836b90d08f4cf640b4c298e7c\t2\n");
}

TEST_F(Publish, UnsafeNamesAreRefusedWithTheirReason) {
    for (const char* name : {"a:b.pak", "back\\slash", "tab\there", "eq=uals", "dot.", "caf\xe9"}) {
        fs::remove_all(root / "game");
        put(name, "x");
        std::string error;
        EXPECT_FALSE(kpublish::scan_game_folder(root / "game", &error)) << name;
        EXPECT_NE(error.find("\""), std::string::npos) << error;
    }
    fs::remove_all(root / "game");
    put("Data.pak", "1");
    put("data.pak", "2");
    std::string error;
    EXPECT_FALSE(kpublish::scan_game_folder(root / "game", &error));
    EXPECT_NE(error.find("one file on Windows"), std::string::npos) << error;
}

TEST_F(Publish, SignaturesVerifyOnlyTheSignedBytesWithTheRightKey) {
    auto key = kpublish::generate_keypair();
    auto other = kpublish::generate_keypair();
    std::string index = "a.pak=900150983cd24fb0d6963f7d28e17f72\t3\n";
    std::string sig = kpublish::sign_index(index, key);
    EXPECT_EQ(sig.size(), 89u);  // 88 Base64 characters and a line feed
    EXPECT_TRUE(kpublish::verify_signature(index, sig, key.public_hex));
    EXPECT_FALSE(kpublish::verify_signature(index + "\r", sig, key.public_hex));
    EXPECT_FALSE(kpublish::verify_signature(index, sig, other.public_hex));
}

TEST_F(Publish, APublishedTreeVerifiesAndATamperedOneDoesNot) {
    put("a.pak", "abc");
    put("data/b.pak", "bb");
    fs::create_directories(root / "v2");
    std::ofstream(root / "v2" / "Kest.exe") << "v2 client";
    auto key = kpublish::read_secret_key(KEST_DEMO_SECRET, nullptr);
    ASSERT_TRUE(key);
    kpublish::PublishOptions o{root / "game", root / "v2", "alpha-7", root / "server"};
    std::string error;
    ASSERT_TRUE(kpublish::publish_tree(o, *key, &error)) << error;
    for (const char* p : {"index.txt", "index.txt.sig", "get/a.pak", "get/data/b.pak", "unity/win/index.txt",
                          "unity/win/index.txt.sig", "get/unity/win/Kest.exe", "unity/win/build.txt"})
        EXPECT_TRUE(fs::exists(root / "server" / p)) << p;
    EXPECT_EQ(read(root / "server/unity/win/build.txt"), "alpha-7\n");

    auto pub = kpublish::read_public_key(KEST_DEMO_PUBLIC, nullptr);
    ASSERT_TRUE(pub);
    std::vector<std::string> problems;
    EXPECT_TRUE(kpublish::verify_tree(root / "server", *pub, &problems));
    EXPECT_TRUE(problems.empty());

    EXPECT_FALSE(kpublish::verify_tree(root / "server", kpublish::generate_keypair().public_hex, nullptr));
    std::ofstream(root / "server/get/data/b.pak") << "BB";
    problems.clear();
    EXPECT_FALSE(kpublish::verify_tree(root / "server", *pub, &problems));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("MD5 differs"), std::string::npos);
}

TEST_F(Publish, TheCommandLineToolKeygenSignVerify) {
    std::string exe = KEST_PUBLISH_EXE;
    std::string keys = (root / "keys").string(), game = (root / "game").string(), server = (root / "server").string();
    put("a.pak", "abc");
    ASSERT_EQ(std::system((exe + " keygen " + keys + " > " + root.string() + "/out.txt").c_str()), 0);
    EXPECT_NE(read(root / "out.txt").find("set(KEST_TRUSTED_PUBLIC_KEYS \""), std::string::npos);
    EXPECT_EQ(fs::status(root / "keys/kest-ed25519.secret").permissions() & fs::perms::others_read, fs::perms::none);
    EXPECT_NE(std::system((exe + " keygen " + keys + " 2>/dev/null").c_str()), 0) << "an existing key is kept";
    ASSERT_EQ(std::system((exe + " publish " + keys + "/kest-ed25519.secret " + server + " " + game).c_str()), 0);
    EXPECT_EQ(std::system((exe + " verify " + server + " " + keys + "/kest-ed25519.pub >/dev/null").c_str()), 0);
    EXPECT_NE(std::system((exe + " verify " + server + " " KEST_DEMO_PUBLIC " 2>/dev/null").c_str()), 0);
    EXPECT_NE(std::system((exe + " bogus 2>/dev/null").c_str()), 0);
}

}  // namespace
