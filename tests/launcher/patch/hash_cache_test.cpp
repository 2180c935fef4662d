#include "launcher/patch/hash_cache.h"

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

using kpatch::CachedHash;
using kpatch::HashCache;

const std::string kHashA = "0123456789abcdef0123456789abcdef";
const std::string kHashB = "fedcba9876543210fedcba9876543210";

TEST(HashCacheKey, OneKeyForEverySpellingOfAPath) {
    EXPECT_EQ(kpatch::cache_key(L"Data/Sub\\FILE.Pak"), "data\\sub\\file.pak");
    EXPECT_EQ(kpatch::cache_key(L"\u00c4rger.txt"), "\xc3\x84rger.txt") << "only ASCII letters are lowered";
    EXPECT_EQ(kpatch::cache_key(L"\U0001F600"), "\xf0\x9f\x98\x80");
    EXPECT_EQ(kpatch::cache_key(std::wstring(1, wchar_t(0xD83D)) + L"x"), "\xed\xa0\xbdx");  // unpaired surrogate
}

TEST(HashCacheFile, ParsingRules) {
    std::string text = std::string("kest-hash-cache 1\r\n") +
                       "a.pak\t10\t20\t" + kHashA + "\n" +
                       "upper\t1\t2\t" + "0123456789ABCDEF0123456789ABCDEF" + "\n" +
                       "\n" +
                       "five\t1\t2\t" + kHashA + "\textra\n" +
                       "neg\t-1\t2\t" + kHashA + "\n" +
                       "long\t123456789012345678901\t2\t" + kHashA + "\n" +
                       "short\t1\t2\tabc\n" +
                       "\t1\t2\t" + kHashA + "\n" +
                       "a.pak\t11\t21\t" + kHashB;  // later duplicate wins, no final LF
    HashCache cache = kpatch::parse_hash_cache(text);
    ASSERT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache["a.pak"], (CachedHash{11, 21, kHashB}));
    EXPECT_EQ(cache["upper"].hash, kHashA);

    EXPECT_TRUE(kpatch::parse_hash_cache("kest-hash-cache 2\na\t1\t2\t" + kHashA + "\n").empty());
    EXPECT_TRUE(kpatch::parse_hash_cache("a\t1\t2\t" + kHashA + "\n").empty());
    EXPECT_TRUE(kpatch::parse_hash_cache("").empty());
}

TEST(HashCacheFile, SaveKeepsRecordsOfTheIndexOnly) {
    kest_test::TempDir dir;
    HashCache cache{{"a.pak", {1, 2, kHashA}}, {"gone.pak", {3, 4, kHashB}}};
    kpatch::save_hash_cache(dir.path(), cache, {});
    EXPECT_EQ(kpatch::load_hash_cache(dir.path()), cache) << "an empty index keeps every record";

    kpatch::save_hash_cache(dir.path(), cache, {kpatch::PatchEntry{L"A.PAK", kHashA, 1}});
    EXPECT_EQ(kpatch::load_hash_cache(dir.path()), (HashCache{{"a.pak", {1, 2, kHashA}}}));
    EXPECT_EQ(kest_test::read_file(dir / L"launcher.hashcache"), "kest-hash-cache 1\na.pak\t1\t2\t" + kHashA + "\n");
    EXPECT_FALSE(kest_test::file_exists(dir / L"launcher.hashcache.tmp"));
}

TEST(HashCacheFile, AFailedSaveLeavesTheOldCache) {
    kest_test::TempDir dir;
    HashCache old{{"a.pak", {1, 2, kHashA}}};
    kpatch::save_hash_cache(dir.path(), old, {});
    // The temporary name is taken by a folder: the write cannot start.
    ASSERT_TRUE(CreateDirectoryW((dir / L"launcher.hashcache.tmp").c_str(), nullptr));
    kpatch::save_hash_cache(dir.path(), HashCache{{"b.pak", {5, 6, kHashB}}}, {});
    EXPECT_EQ(kpatch::load_hash_cache(dir.path()), old);
    EXPECT_TRUE(kpatch::load_hash_cache(dir / L"missing").empty());
}

TEST(HashCache, RememberDownloadRecordsOrForgets) {
    kest_test::TempDir dir;
    ASSERT_TRUE(kest_test::write_file(dir / L"x.pak", "12345"));
    HashCache cache;
    kpatch::PatchEntry entry{L"X.pak", "0123456789ABCDEF0123456789ABCDEF", 5};
    kpatch::remember_download(cache, entry, dir / L"x.pak");
    ASSERT_EQ(cache.count("x.pak"), 1u);
    EXPECT_EQ(cache["x.pak"].size, 5);
    EXPECT_EQ(cache["x.pak"].hash, kHashA);
    EXPECT_NE(cache["x.pak"].mtime, 0);

    kpatch::remember_download(cache, entry, dir / L"missing.pak");
    EXPECT_TRUE(cache.empty());
}

}  // namespace
