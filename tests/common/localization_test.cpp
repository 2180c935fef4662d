#include "common/localization.h"

#include "common/settings_document.h"
#include "common/utf8.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

using kpatch::kLanguageCount;
using kpatch::kTextCount;
using kpatch::language_text;

// The placeholders of a text in order: printf ones (%s, %d, %%) and the named ones.
std::vector<std::wstring> placeholders(const std::wstring& text) {
    static const std::wregex re(LR"(%\((m|d|y|day|time)\)[sd]|%[sd%]|%)");
    std::vector<std::wstring> out;
    for (auto it = std::wsregex_iterator(text.begin(), text.end(), re); it != std::wsregex_iterator(); ++it)
        out.push_back(it->str());
    return out;
}

size_t line_breaks(const std::wstring& text) { return std::count(text.begin(), text.end(), L'\n'); }

TEST(LanguageTable, EveryTextIsPresentWithEnglishPlaceholdersInOrder) {
    ASSERT_EQ(kpatch::language_codes().size(), 16u);
    for (int row = 0; row < kLanguageCount; ++row) {
        std::string code = kpatch::to_utf8(language_text(row, 0));
        for (int k = 1; k <= kTextCount; ++k) {
            std::wstring text = language_text(row, k), english = language_text(0, k);
            SCOPED_TRACE(code + " string " + std::to_string(k));
            EXPECT_FALSE(text.empty());
            if (k != 64) EXPECT_EQ(placeholders(text), placeholders(english));
            EXPECT_EQ(line_breaks(text), line_breaks(english));
            EXPECT_EQ(text.find(L'\\'), std::wstring::npos) << "an escape was left in the text";
        }
    }
}

TEST(LanguageTable, RowsCodesAndDateOrders) {
    const wchar_t* rows[16][2] = {
        {L"en", L"%(m)d/%(d)d/%(y)d"}, {L"de", L"%(d)d.%(m)d.%(y)d"}, {L"es", L"%(d)d/%(m)d/%(y)d"},
        {L"fr", L"%(d)d/%(m)d/%(y)d"}, {L"it", L"%(d)d/%(m)d/%(y)d"}, {L"pl", L"%(d)d.%(m)d.%(y)d"},
        {L"pt", L"%(d)d/%(m)d/%(y)d"}, {L"ro", L"%(d)d.%(m)d.%(y)d"}, {L"tr", L"%(d)d.%(m)d.%(y)d"},
        {L"hu", L"%(m)d/%(d)d/%(y)d"}, {L"cs", L"%(m)d/%(d)d/%(y)d"}, {L"el", L"%(d)d/%(m)d/%(y)d"},
        {L"nl", L"%(d)d-%(m)d-%(y)d"}, {L"da", L"%(d)d.%(m)d.%(y)d"}, {L"ru", L"%(d)d.%(m)d.%(y)d"},
        {L"br", L"%(d)d/%(m)d/%(y)d"}};
    for (int r = 0; r < 16; ++r) {
        EXPECT_EQ(kpatch::language_codes()[r], rows[r][0]);
        EXPECT_EQ(language_text(r, 64), rows[r][1]) << r;
    }
    EXPECT_EQ(kpatch::language_display_name(L"br"), L"Português (Brasil)");
    EXPECT_EQ(kpatch::language_display_name(L"el"), L"Ελληνικά");
    EXPECT_EQ(kpatch::language_display_name(L"DE"), L"DE");
    EXPECT_EQ(kpatch::language_display_name(L"deu"), L"deu");
}

TEST(LanguageTable, EnglishTextsKeepTheirTypography) {
    EXPECT_EQ(language_text(0, 14), L"Checking files... %d%%  \u2014  %s");
    EXPECT_NE(language_text(0, 41).find(L"PC.\n\nInstall it now?"), std::wstring::npos);
    EXPECT_EQ(language_text(0, 85), L"%s \u00b7 about %s");
    EXPECT_EQ(language_text(0, 106), L"Change\u2026");
}

TEST(UiText, OutsideTheTableIsEmpty) {
    EXPECT_EQ(kpatch::ui_text(0), L"");
    EXPECT_EQ(kpatch::ui_text(149), L"");
    EXPECT_EQ(kpatch::ui_text(-1), L"");
    EXPECT_EQ(kpatch::ui_text(1), language_text(kpatch::current_language_row(), 1));
}

TEST(LanguageChoice, RowMatchingAndOsMapping) {
    EXPECT_EQ(kpatch::find_language_row(L"de-DE"), 1);
    EXPECT_EQ(kpatch::find_language_row(L"DE"), 1);
    EXPECT_EQ(kpatch::find_language_row(L"d"), std::nullopt);
    EXPECT_EQ(kpatch::find_language_row(L"zh"), std::nullopt);
    EXPECT_EQ(kpatch::find_language_row(L"br"), 15);
    EXPECT_EQ(kpatch::ui_language_from_iso(L"pt", L"BR"), L"br");
    EXPECT_EQ(kpatch::ui_language_from_iso(L"PT", L"br"), L"br");
    EXPECT_EQ(kpatch::ui_language_from_iso(L"pt", L"PT"), L"pt");
    EXPECT_EQ(kpatch::ui_language_from_iso(L"zh", L"CN"), L"zh");
}

class LanguageFiles : public ::testing::Test {
protected:
    void TearDown() override { kpatch::set_current_language_row(0); }
    std::wstring settings() { return dir / L"settings.cfg"; }
    std::optional<std::string> stored(const char* key) {
        kpatch::SettingsDocument doc;
        doc.load(settings());
        return doc.value("locale", key);
    }
    kest_test::TempDir dir;
};

TEST_F(LanguageFiles, LauncherMatchesTheStoredCodeCaseSensitively) {
    struct Case {
        const char* file;
        const wchar_t* expected;
    } cases[] = {{"[locale]\nlanguage=de-DE\n", L"de"}, {"[locale]\nlanguage=d\n", L"en"},
                 {"[locale]\nlanguage=DE\n", L"en"},   {"[locale]\nlanguage=br\n", L"br"},
                 {"[other]\nx=1\n", L"en"}};
    for (const Case& c : cases) {
        kpatch::set_current_language_row(0);
        ASSERT_TRUE(kest_test::write_file(settings(), c.file));
        kpatch::choose_launcher_language(settings());
        EXPECT_EQ(kpatch::current_language_code(), c.expected) << c.file;
    }
}

TEST_F(LanguageFiles, SetupMatchesTheStoredCodeIgnoringCase) {
    ASSERT_TRUE(kest_test::write_file(settings(), "[locale]\nlanguage=DE\n"));
    kpatch::choose_setup_language(settings());
    EXPECT_EQ(kpatch::current_language_code(), L"de");
}

TEST_F(LanguageFiles, SeedingKeepsAStoredLanguageAndFillsInLocaleName) {
    ASSERT_TRUE(kest_test::write_file(settings(), "[locale]\nlanguage=fr\n"));
    kpatch::seed_language(settings());
    EXPECT_EQ(stored("language"), "fr");
    EXPECT_EQ(stored("locale_name"), kpatch::to_utf8(kpatch::language_codes()[
                                         kpatch::find_language_row(kpatch::os_ui_language()).value_or(0)]));
    kpatch::choose_launcher_language(settings());
    EXPECT_EQ(kpatch::current_language_code(), L"fr");
}

TEST_F(LanguageFiles, SeedingLeavesACompleteFileAlone) {
    const std::string text = "[locale]\nlanguage=\nlocale_name=\n";
    ASSERT_TRUE(kest_test::write_file(settings(), text));
    kpatch::seed_language(settings());
    EXPECT_EQ(kest_test::read_file(settings()), text) << "present lines count, even when empty";
}

TEST_F(LanguageFiles, SelectStoresBothKeysAndSwitches) {
    ASSERT_TRUE(kest_test::write_file(settings(), "[locale]\nlanguage=en\nlocale_name=en\n"));
    kpatch::select_language(settings(), L"ro");
    EXPECT_EQ(stored("language"), "ro");
    EXPECT_EQ(stored("locale_name"), "ro");
    EXPECT_EQ(kpatch::current_language_code(), L"ro");

    kpatch::select_language(dir / L"missing\\settings.cfg", L"pl");  // not stored, still switched
    EXPECT_EQ(kpatch::current_language_code(), L"pl");
}

TEST(StatusRetranslation, OnlyExactStringsFollowTheSwitch) {
    EXPECT_EQ(kpatch::retranslate(language_text(0, 21), 0, 1), language_text(1, 21));
    EXPECT_EQ(kpatch::retranslate(L"Downloading data.pak  (1/2)", 0, 1), std::nullopt);
    // "days" is both 6 and 69: the first number wins.
    EXPECT_EQ(kpatch::retranslate(L"days", 0, 3), language_text(3, 6));
}

}  // namespace
