#include "common/settings_document.h"

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

using kpatch::SettingsDocument;
using kpatch::SettingsLine;
using kpatch::SettingsLoadError;

namespace {

SettingsDocument parsed(const std::string& text) {
    SettingsDocument doc;
    doc.parse(text);
    return doc;
}

struct Lookup {
    const char* name;
    const char* file;
    const char* section;
    const char* key;
    int expected_index;          // -1: not found
    const char* expected_value;  // when found
};

void PrintTo(const Lookup& l, std::ostream* os) { *os << l.name; }

class SettingsLookup : public ::testing::TestWithParam<Lookup> {};

TEST_P(SettingsLookup, FindsFirstMatchingKeyLine) {
    const Lookup& c = GetParam();
    SettingsDocument doc = parsed(c.file);
    int i = doc.find(c.section, c.key);
    ASSERT_EQ(i, c.expected_index);
    if (i >= 0) EXPECT_EQ(doc.lines()[i].value, c.expected_value);
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, SettingsLookup,
    ::testing::Values(
        Lookup{"IndentedAnyCase", "[Graphics]\r\n  Quality = 3\r\n", "graphics", "quality", 1, "3"},        // indented, any case
        Lookup{"BeforeFirstHeader", "key=before\n[a]\nkey=in a\n", "", "key", 0, "before"},                    // lines before a header
        Lookup{"HeaderWithComment", "[a] ; comment\nk=1\n", "a", "k", 1, "1"},                                 // header with a comment
        Lookup{"CommentsHoldingEquals", "[a]\n; k=1\n# k=2\nk=3\n", "a", "k", 3, "3"},                             // comments holding "="
        Lookup{"BracketWithoutClose", "[a]\n[broken\nk=1\n", "a", "k", 2, "1"},                                  // "[" without "]"
        Lookup{"BracketWithEqualsIsKey", "[a]\n[b=c\n", "a", "[b", 1, "c"},                                         // "[" with "=" is a key
        Lookup{"RepeatedSection", "[a]\nk=1\n[b]\nk=2\n[a]\nk=3\n", "a", "k", 1, "1"},                       // repeated section
        Lookup{"ValueToEndOfLine", "[a]\nk = x = y \n", "a", "k", 1, "x = y"},                                // value to the end
        Lookup{"UnterminatedLastLine", "[ spaced ]\nk=1", "spaced", "k", 1, "1"},                                 // unterminated last line
        Lookup{"EmptyValueIsFound", "[a]\nk=\n", "a", "k", 1, ""},                                             // empty value is found
        Lookup{"ByteOrderMark", "\xEF\xBB\xBF[a]\nk=1\n", "a", "k", 1, "1"},                               // byte-order mark
        Lookup{"NotAKeyLine", "[a]\nother\n", "a", "other", -1, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsDocument, LinesEndAtLfAndDropOneCr) {
    SettingsDocument doc = parsed("a=1\r\nb=2\r\r\n\nc=3\r");
    ASSERT_EQ(doc.lines().size(), 4u);
    EXPECT_EQ(doc.lines()[1].raw, "b=2\r");
    EXPECT_EQ(doc.lines()[2].kind, SettingsLine::Other);
    EXPECT_EQ(doc.lines()[3].value, "3");
}

TEST(SettingsDocument, RewriteKeepsUntouchedLinesByteForByte) {
    SettingsDocument doc = parsed("\xEF\xBB\xBF; top\n[locale]\n  language =  de \n\tother\t= keep \n[x]\n");
    doc.set("LOCALE", "Language", "fr");
    EXPECT_EQ(doc.serialize(), "; top\r\n[locale]\r\n  language=fr\r\n\tother\t= keep \r\n[x]\r\n");
}

TEST(SettingsDocument, NewKeysGoAfterTheLastKeyOfTheirSection) {
    SettingsDocument doc = parsed("[a]\nk=1\n[b]\nx=1\n[a]\n[c]\n");
    doc.set("a", "new", "2");
    EXPECT_EQ(doc.serialize(), "[a]\r\nk=1\r\nnew=2\r\n[b]\r\nx=1\r\n[a]\r\n[c]\r\n");

    SettingsDocument only_headers = parsed("[a]\n[b]\n[a]\n[c]\n");
    only_headers.set("a", "new", "2");
    EXPECT_EQ(only_headers.serialize(), "[a]\r\n[b]\r\n[a]\r\nnew=2\r\n[c]\r\n");

    SettingsDocument empty;
    empty.set("locale", "language", "en");
    empty.set("telemetry", "enabled", "1");
    empty.set("locale", "locale_name", "en");
    EXPECT_EQ(empty.serialize(), "[locale]\r\nlanguage=en\r\nlocale_name=en\r\n[telemetry]\r\nenabled=1\r\n");
}

TEST(SettingsDocument, IntegersReadLikeStrtol) {
    EXPECT_EQ(kpatch::parse_settings_int("7"), 7);
    EXPECT_EQ(kpatch::parse_settings_int(" -3x"), -3);
    EXPECT_EQ(kpatch::parse_settings_int("+12"), 12);
    EXPECT_EQ(kpatch::parse_settings_int("high"), std::nullopt);
    EXPECT_EQ(kpatch::parse_settings_int(""), std::nullopt);
}

TEST(SettingsFile, LoadReportsTheKindOfFailure) {
    kest_test::TempDir dir;
    SettingsDocument doc;
    SettingsLoadError error;
    EXPECT_FALSE(doc.load(dir / L"missing.cfg", &error));
    EXPECT_EQ(error.kind, SettingsLoadError::NotFound);
    EXPECT_FALSE(doc.load(dir / L"no\\such\\folder.cfg", &error));
    EXPECT_EQ(error.kind, SettingsLoadError::NotFound);
    EXPECT_FALSE(doc.load(dir.path(), &error));  // a folder cannot be opened as a file
    EXPECT_EQ(error.kind, SettingsLoadError::OpenFailed);
    EXPECT_FALSE(doc.loaded());
}

TEST(SettingsFile, SaveRewritesBomAndLfAsCrLfAndLeavesNoTemporaryFile) {
    kest_test::TempDir dir;
    std::wstring path = dir / L"settings.cfg";
    ASSERT_TRUE(kest_test::write_file(path, "\xEF\xBB\xBF[graphics]\nquality=1\n"));
    SettingsDocument doc;
    ASSERT_TRUE(doc.load(path));
    doc.set("graphics", "quality", "3");
    DWORD error = 1;
    ASSERT_TRUE(doc.save(path, &error));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(kest_test::read_file(path), "[graphics]\r\nquality=3\r\n");
    EXPECT_EQ(kest_test::list_folder(dir.path()), std::vector<std::wstring>{L"settings.cfg"});
}

TEST(SettingsFile, SaveIntoAMissingFolderFailsAtOnce) {
    kest_test::TempDir dir;
    SettingsDocument doc;
    doc.set("a", "b", "c");
    DWORD error = 0;
    DWORD start = GetTickCount();
    EXPECT_FALSE(doc.save(dir / L"gone\\settings.cfg", &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    // Two retries would sleep 60 + 120 ms first.
    EXPECT_LT(GetTickCount() - start, 170u) << "a missing folder must not be retried";
}

}  // namespace
