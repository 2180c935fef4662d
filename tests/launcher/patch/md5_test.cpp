#include "launcher/patch/local_diff.h"
#include "launcher/patch/md5.h"

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(Md5, Rfc1321TestSuite) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (auto [text, hash] : cases) EXPECT_EQ(kpatch::md5_hex(text), hash) << text;
}

TEST(Md5, PiecewiseUpdatesAcrossBlockBoundariesGiveTheSameHash) {
    std::string data;
    for (int i = 0; i < 1000; ++i) data.push_back(static_cast<char>(i * 7));
    const std::string whole = kpatch::md5_hex(data);
    for (size_t step : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 129u}) {
        kpatch::Md5 md5;
        for (size_t i = 0; i < data.size(); i += step) md5.update(data.data() + i, std::min(step, data.size() - i));
        EXPECT_EQ(md5.finish_hex(), whole) << step;
    }
}

TEST(Md5File, ReportsEveryBlockAndStopsOnCancel) {
    kest_test::TempDir dir;
    std::wstring path = dir / L"data.bin";
    std::string data(2 * kpatch::kHashBlockBytes + 5, 'x');
    ASSERT_TRUE(kest_test::write_file(path, data));

    std::vector<std::int64_t> seen;
    EXPECT_EQ(kpatch::file_md5_hex(path, [&](std::int64_t done) { return seen.push_back(done), true; }),
              kpatch::md5_hex(data));
    EXPECT_EQ(seen, (std::vector<std::int64_t>{1048576, 2097152, 2097157}));

    EXPECT_EQ(kpatch::file_md5_hex(path, [](std::int64_t) { return false; }), "");
    EXPECT_EQ(kpatch::file_md5_hex(dir / L"missing.bin"), "");
}

}  // namespace
