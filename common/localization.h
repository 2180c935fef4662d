// The 16-language table of the 148 user-interface texts, the current language, and how
// each program chooses it. Texts are numbered 1..148; the current row is process-wide.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kpatch {

inline constexpr int kLanguageCount = 16;
inline constexpr int kTextCount = 148;

// Any thread. String k of the current language; empty outside 1..148.
std::wstring ui_text(int k);
// String k of a given row (entry 0 is the row's code); empty when out of range.
std::wstring language_text(int row, int k);

// The 16 codes in row order ("en", "de", ... "br"); also the language picker's order.
const std::vector<std::wstring>& language_codes();
// "de" -> "Deutsch"; exact, case-sensitive, length 2; anything else comes back unchanged.
std::wstring language_display_name(const std::wstring& code);

// The Windows UI language as a table code candidate: the ISO 639 name, or "br" for
// Portuguese (Brazil); empty when Windows does not say.
std::wstring os_ui_language();
// The mapping half of os_ui_language, from the ISO 639 and ISO 3166 names.
std::wstring ui_language_from_iso(const std::wstring& iso639, const std::wstring& iso3166);

// The first row whose code equals the first two characters of code, ignoring case.
std::optional<int> find_language_row(std::wstring_view code);

int current_language_row();
std::wstring current_language_code();
void set_current_language_row(int row);

// Launcher start: fills in [locale] language / locale_name when a line is missing, from the
// Windows UI language (English when it has no row).
void seed_language(const std::wstring& settings_path);
// Launcher start-up choice, after seeding: the stored language's first two characters,
// matched case-sensitively; English otherwise.
void choose_launcher_language(const std::wstring& settings_path);
// Setup start-up choice: the stored language of the proposed install folder, else the
// Windows UI language, matched ignoring case; English otherwise.
void choose_setup_language(const std::wstring& settings_path);
// The user's explicit pick: stores both keys under the lock and makes the row current
// (even when the store fails).
void select_language(const std::wstring& settings_path, const std::wstring& code);

// After a language switch: the shown text in the new language when it is exactly one of
// the old language's strings (the first such number), nullopt otherwise.
std::optional<std::wstring> retranslate(const std::wstring& shown, int old_row, int new_row);

}  // namespace kpatch
