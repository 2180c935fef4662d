#include "common/localization.h"

#include "common/settings_edit.h"
#include "common/utf8.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <cwctype>

namespace kpatch {
namespace {

#include "language_table.inc"

static_assert(sizeof kLanguageRows / sizeof kLanguageRows[0] == kLanguageCount);

using Row = std::array<std::wstring, kTextCount + 1>;

const std::vector<Row>& rows() {
    static const std::vector<Row> expanded = [] {
        std::vector<Row> out(kLanguageCount);
        for (int r = 0; r < kLanguageCount; ++r) {
            for (int k = 0; k <= kTextCount; ++k) {
                const char8_t* text = kLanguageRows[r][k] ? kLanguageRows[r][k] : kLanguageRows[0][k];
                if (text) out[r][k] = from_utf8(reinterpret_cast<const char*>(text));
            }
        }
        return out;
    }();
    return expanded;
}

std::atomic<const Row*> current_row{nullptr};

const Row& current() {
    const Row* row = current_row.load();
    return row ? *row : rows()[0];
}

std::string to_ascii(const std::wstring& code) {
    std::string out;
    for (wchar_t c : code) out.push_back(static_cast<char>(c & 0x7F));
    return out;
}

std::optional<std::string> stored_language(const std::wstring& settings_path) {
    SettingsDocument doc;
    if (!doc.load(settings_path)) return std::nullopt;
    return doc.value("locale", "language");
}

}  // namespace

std::wstring ui_text(int k) {
    if (k < 1 || k > kTextCount) return {};
    return current()[k];
}

std::wstring language_text(int row, int k) {
    if (row < 0 || row >= kLanguageCount || k < 0 || k > kTextCount) return {};
    return rows()[row][k];
}

const std::vector<std::wstring>& language_codes() {
    static const std::vector<std::wstring> codes = [] {
        std::vector<std::wstring> out;
        for (const Row& row : rows()) out.push_back(row[0]);
        return out;
    }();
    return codes;
}

std::wstring language_display_name(const std::wstring& code) {
    static constexpr std::pair<const wchar_t*, const wchar_t*> kNames[] = {
        {L"en", L"English"}, {L"de", L"Deutsch"}, {L"es", L"Español"}, {L"fr", L"Français"},
        {L"it", L"Italiano"}, {L"pl", L"Polski"}, {L"pt", L"Português (Portugal)"}, {L"ro", L"Română"},
        {L"tr", L"Türkçe"}, {L"hu", L"Magyar"}, {L"cs", L"Čeština"}, {L"el", L"Ελληνικά"},
        {L"nl", L"Nederlands"}, {L"da", L"Dansk"}, {L"ru", L"Русский"}, {L"br", L"Português (Brasil)"},
    };
    for (const auto& [c, name] : kNames)
        if (code == c) return name;
    return code;
}

std::wstring ui_language_from_iso(const std::wstring& iso639, const std::wstring& iso3166) {
    std::wstring lower = iso639, upper = iso3166;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
    if (lower == L"pt" && upper == L"BR") return L"br";
    return iso639;
}

std::wstring os_ui_language() {
    LANGID lang = GetUserDefaultUILanguage();
    if (lang == 0) return {};
    LCID lcid = MAKELCID(lang, SORT_DEFAULT);
    wchar_t name[16] = {};
    if (GetLocaleInfoW(lcid, LOCALE_SISO639LANGNAME, name, 16) <= 1) return {};
    std::wstring iso639 = name, country;
    if (CompareStringOrdinal(name, -1, L"pt", -1, TRUE) == CSTR_EQUAL) {
        wchar_t ctry[16] = {};
        if (GetLocaleInfoW(lcid, LOCALE_SISO3166CTRYNAME, ctry, 16) > 0) country = ctry;
    }
    return ui_language_from_iso(iso639, country);
}

std::optional<int> find_language_row(std::wstring_view code) {
    if (code.size() < 2) return std::nullopt;
    const auto& codes = language_codes();
    for (int r = 0; r < kLanguageCount; ++r) {
        if (CompareStringOrdinal(code.data(), 2, codes[r].c_str(), 2, TRUE) == CSTR_EQUAL) return r;
    }
    return std::nullopt;
}

int current_language_row() {
    const Row* row = current_row.load();
    return row ? static_cast<int>(row - rows().data()) : 0;
}

std::wstring current_language_code() { return current()[0]; }

void set_current_language_row(int row) {
    if (row < 0 || row >= kLanguageCount) return;
    current_row.exchange(&rows()[row]);
}

void seed_language(const std::wstring& settings_path) {
    edit_settings(settings_path, [](SettingsDocument& doc) {
        bool has_language = doc.find("locale", "language") >= 0;
        bool has_locale_name = doc.find("locale", "locale_name") >= 0;
        if (has_language && has_locale_name) return false;
        auto row = find_language_row(os_ui_language());
        std::string code = to_ascii(row ? language_codes()[*row] : L"en");
        if (!has_language) doc.set("locale", "language", code);
        if (!has_locale_name) doc.set("locale", "locale_name", code);
        return true;
    });
}

void choose_launcher_language(const std::wstring& settings_path) {
    SettingsDocument doc;
    if (!doc.load(settings_path)) return;
    std::wstring value = from_utf8(doc.value("locale", "language").value_or("en"));
    if (value.size() < 2) return;
    const auto& codes = language_codes();
    for (int r = 0; r < kLanguageCount; ++r) {
        if (codes[r].compare(0, 2, value, 0, 2) == 0) {
            set_current_language_row(r);
            return;
        }
    }
}

void choose_setup_language(const std::wstring& settings_path) {
    std::wstring code;
    if (auto stored = stored_language(settings_path)) code = from_utf8(*stored);
    if (code.empty()) code = os_ui_language();
    set_current_language_row(find_language_row(code).value_or(0));
}

void select_language(const std::wstring& settings_path, const std::wstring& code) {
    auto row = find_language_row(code);
    if (!row) return;
    std::string stored = to_ascii(language_codes()[*row]);
    edit_settings(settings_path, [&](SettingsDocument& doc) {
        doc.set("locale", "language", stored);
        doc.set("locale", "locale_name", stored);
        return true;
    });
    set_current_language_row(*row);
}

std::optional<std::wstring> retranslate(const std::wstring& shown, int old_row, int new_row) {
    if (old_row < 0 || old_row >= kLanguageCount || new_row < 0 || new_row >= kLanguageCount) return std::nullopt;
    for (int k = 1; k <= kTextCount; ++k)
        if (rows()[old_row][k] == shown) return rows()[new_row][k];
    return std::nullopt;
}

}  // namespace kpatch
