// os_ui_language on a Windows of another language, for real: Wine takes the Windows UI
// language from the LC_ALL of the process, so CTest starts this program with LC_ALL set
// and KEST_EXPECTED_LANGUAGE naming the code the launcher must store.
#include "common/localization.h"
#include "common/settings_document.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(OsUiLanguage, SeedsTheLanguageOfTheWindowsInstallation) {
    const char* expected = std::getenv("KEST_EXPECTED_LANGUAGE");
    ASSERT_NE(expected, nullptr) << "run through ctest, which sets LC_ALL and KEST_EXPECTED_LANGUAGE";
    kest_test::TempDir dir;
    std::wstring settings = dir / L"settings.cfg";
    kpatch::seed_language(settings);
    kpatch::SettingsDocument doc;
    ASSERT_TRUE(doc.load(settings));
    EXPECT_EQ(doc.value("locale", "language"), expected);
    EXPECT_EQ(doc.value("locale", "locale_name"), expected);
    kpatch::choose_launcher_language(settings);
    EXPECT_EQ(kpatch::current_language_code(), std::wstring(expected, expected + 2));
}

}  // namespace
