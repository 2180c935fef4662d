#include "common/text_format.h"

#include <gtest/gtest.h>

namespace {

using kpatch::format_text;

TEST(TextFormat, FillsPlaceholdersInOrder) {
    EXPECT_EQ(format_text(L"Downloading %s  (%d/%d)", {L"a.pak", std::int64_t{3}, std::int64_t{10}}),
              L"Downloading a.pak  (3/10)");
    EXPECT_EQ(format_text(L"%d%% %s", {std::int64_t{-5}, L"x"}), L"-5% x");
    EXPECT_EQ(format_text(L"%s and %s", {L"one"}), L"one and ") << "a missing argument stays empty";
    EXPECT_EQ(format_text(L"100% %(m)d %", {}), L"100% %(m)d %") << "other sequences are copied";
    EXPECT_EQ(format_text(std::wstring(2000, L'x'), {}).size(), kpatch::kMaxFormattedChars);
}

}  // namespace
