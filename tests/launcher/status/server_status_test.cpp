// The status document reader: a key scanner over the raw bytes, with its quirks kept on
// purpose (first occurrence of a quoted name wins, values read from the next colon), and
// the download of the document from a loopback server.
#include "launcher/status/server_status.h"

#include "common/localization.h"
#include "tests/support/test_server.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kpatch::ServerStatus;

ServerStatus read(std::string_view text, std::wstring_view language = L"") {
    ServerStatus s;
    kpatch::read_status(text, s, language);
    return s;
}

void expect_defaults(const ServerStatus& s) {
    EXPECT_FALSE(s.maintenance);
    EXPECT_EQ(s.starts_at, 0);
    EXPECT_EQ(s.ends_at, 0);
    EXPECT_EQ(s.opens_at, 0);
    EXPECT_EQ(s.reason, L"");
    EXPECT_EQ(s.phase, L"");
    EXPECT_EQ(s.step, 0);
    EXPECT_EQ(s.changelog_version, "");
    EXPECT_EQ(s.changelog_url, "");
    EXPECT_EQ(s.steps_done_at, (std::array<std::int64_t, 4>{}));
    EXPECT_EQ(s.raw, "");
    EXPECT_FALSE(s.v2_alpha);
}

TEST(ServerStatusRead, EmptyTextGivesDefaults) { expect_defaults(read("")); }

TEST(ServerStatusRead, FullDocument) {
    const std::string doc = R"({
  "maintenance": true,
  "starts_at": 1700000000,
  "ends_at": 1700003600,
  "opens_at": 1700004000,
  "reason": "Server update",
  "phase": "Copying data",
  "step": 3,
  "steps_done_at": [1700000100, 1700000200, 0, 0],
  "changelog_version": "2.4.1",
  "changelog_url": "https://example.invalid/notes",
  "v2Alpha": true
})";
    ServerStatus s = read(doc);
    EXPECT_TRUE(s.maintenance);
    EXPECT_EQ(s.starts_at, 1700000000);
    EXPECT_EQ(s.ends_at, 1700003600);
    EXPECT_EQ(s.opens_at, 1700004000);
    EXPECT_EQ(s.reason, L"Server update");
    EXPECT_EQ(s.phase, L"Copying data");
    EXPECT_EQ(s.step, 3);
    EXPECT_EQ(s.steps_done_at, (std::array<std::int64_t, 4>{1700000100, 1700000200, 0, 0}));
    EXPECT_EQ(s.changelog_version, "2.4.1");
    EXPECT_EQ(s.changelog_url, "https://example.invalid/notes");
    EXPECT_TRUE(s.v2_alpha);
    EXPECT_EQ(s.raw, doc);
}

TEST(ServerStatusRead, MissingAndMalformedKeysKeepWhatTheRecordHeld) {
    ServerStatus s;
    s.maintenance = true;
    s.starts_at = 11;
    s.opens_at = 12;
    s.reason = L"old reason";
    s.phase = L"old phase";
    s.step = 4;
    s.changelog_version = "1.0";
    s.changelog_url = "u";
    s.steps_done_at = {1, 2, 3, 4};
    s.v2_alpha = true;
    // reason is not a string, phase is empty, changelog_url never closes, steps_done_at is
    // not a list: all keep their values; raw always follows the text.
    kpatch::read_status(R"({"reason": 5, "phase": "", "steps_done_at": 7, "changelog_url": "open)", s, L"");
    EXPECT_TRUE(s.maintenance);
    EXPECT_EQ(s.starts_at, 11);
    EXPECT_EQ(s.opens_at, 12);
    EXPECT_EQ(s.reason, L"old reason");
    EXPECT_EQ(s.phase, L"old phase");
    EXPECT_EQ(s.step, 4);
    EXPECT_EQ(s.changelog_version, "1.0");
    EXPECT_EQ(s.changelog_url, "u");
    EXPECT_EQ(s.steps_done_at, (std::array<std::int64_t, 4>{1, 2, 3, 4}));
    EXPECT_TRUE(s.v2_alpha);
    EXPECT_EQ(s.raw, R"({"reason": 5, "phase": "", "steps_done_at": 7, "changelog_url": "open)");

    // An empty changelog string is still a string that decoded, unlike an empty reason.
    kpatch::read_status(R"({"changelog_version": "", "reason": ""})", s, L"");
    EXPECT_EQ(s.changelog_version, "");
    EXPECT_EQ(s.reason, L"old reason");
}

TEST(ServerStatusRead, Flags) {
    struct Case {
        const char* doc;
        bool maintenance, v2_alpha;
    } cases[] = {
        // maintenance looks for "true" only up to the next comma...
        {R"({"maintenance": false, "v2Alpha": true})", false, true},
        {R"({"maintenance": false, "note": "true"})", false, false},
        // ...or to the end when none follows, and anywhere in that stretch.
        {R"({"v2Alpha": false, "maintenance": true})", true, false},
        {R"({"maintenance": "true"})", true, false},
        {R"({"maintenance":true,"v2Alpha":true})", true, true},
        {R"({"maintenance": 1})", false, false},
        // v2Alpha wants the bare word right after the colon.
        {R"({"v2Alpha": "true"})", false, false},
        {R"({"v2Alpha":true})", false, true},
        {"{\"v2Alpha\":\r\n\ttrue}", false, true},
        {R"({"v2Alpha": trueish})", false, false},
        {R"({"v2Alpha": true1})", false, false},
        {R"({"v2Alpha": tru})", false, false},
        {R"({"v2Alpha": true)", false, true},
        {R"({"v2Alpha": true_})", false, true},
        {R"({"v2Alpha" true})", false, false},
    };
    for (const auto& c : cases) {
        ServerStatus s = read(c.doc);
        EXPECT_EQ(s.maintenance, c.maintenance) << c.doc;
        EXPECT_EQ(s.v2_alpha, c.v2_alpha) << c.doc;
    }
}

TEST(ServerStatusRead, Numbers) {
    struct Case {
        const char* doc;
        std::int64_t starts_at, ends_at, opens_at;
        std::int32_t step;
    } cases[] = {
        {R"({"starts_at": "1700000000"})", 0, 0, 0, 0},
        {R"({"starts_at": 1700000000.9, "ends_at": 17e3})", 1700000000, 17, 0, 0},
        {R"({"starts_at": -20, "ends_at": +30})", -20, 30, 0, 0},
        {R"({"opens_at": -5})", 0, 0, 0, 0},
        {R"({"opens_at":9000000000})", 0, 0, 9000000000, 0},
        {R"({"step": 12})", 0, 0, 0, 0},
        {R"({"step": 0})", 0, 0, 0, 0},
        {R"({"step": -1})", 0, 0, 0, 0},
        {R"({"step": 1})", 0, 0, 0, 1},
        {R"({"step": 9})", 0, 0, 0, 9},
        {R"({"step": 4294967297})", 0, 0, 0, 0},  // not truncated to 32 bits first
        {R"({"ends_at": null})", 0, 0, 0, 0},
        {R"({"starts_at": 99999999999999999999, "ends_at": -99999999999999999999})", INT64_MAX, INT64_MIN, 0, 0},
    };
    for (const auto& c : cases) {
        ServerStatus s = read(c.doc);
        EXPECT_EQ(s.starts_at, c.starts_at) << c.doc;
        EXPECT_EQ(s.ends_at, c.ends_at) << c.doc;
        EXPECT_EQ(s.opens_at, c.opens_at) << c.doc;
        EXPECT_EQ(s.step, c.step) << c.doc;
    }
}

TEST(ServerStatusRead, StepsDoneAt) {
    using Steps = std::array<std::int64_t, 4>;
    struct Case {
        const char* doc;
        Steps expected;
    } cases[] = {
        {R"({"steps_done_at": [100, 0, -3, 400, 500]})", {100, 0, 0, 400}},
        {R"({"steps_done_at": []})", {0, 0, 0, 0}},
        {R"({"steps_done_at": [7]})", {7, 0, 0, 0}},
        // A comma after the closing bracket ends the list.
        {R"({"steps_done_at": [5, 6], "later": [7, 8]})", {5, 6, 0, 0}},
        {R"({"steps_done_at":[1,2,3,4]})", {1, 2, 3, 4}},
        {R"({"steps_done_at": ["10", 20]})", {0, 20, 0, 0}},
        // No closing bracket, or not a list: nothing read.
        {R"({"steps_done_at": [1, 2, 3)", {0, 0, 0, 0}},
        {R"({"steps_done_at": 1, "x": [2]})", {0, 0, 0, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(read(c.doc).steps_done_at, c.expected) << c.doc;
}

// Escapes as UTF-8 bytes, seen through changelog_version, which keeps them as they are.
TEST(ServerStatusRead, StringDecoding) {
    struct Case {
        const char* doc;
        const char* expected;
    } cases[] = {
        {R"({"changelog_version": "a\nb\tc"})", "a b c"},
        {R"({"changelog_version": "q\"q \\ \/ \r\b\f \x"})", "q\"q \\ / rbf x"},
        {R"({"changelog_version": "\u0041\u00e9\u20ac"})", "A\xC3\xA9\xE2\x82\xAC"},
        {R"({"changelog_version": "\uD83D\uDE00"})", "\xF0\x9F\x98\x80"},
        {R"({"changelog_version": "\ud83d\ude00"})", "\xF0\x9F\x98\x80"},
        // A high surrogate without its low half stands alone in its 3-byte form.
        {R"({"changelog_version": "\ud83dx"})", "\xED\xA0\xBDx"},
        {R"({"changelog_version": "\ud83d\u0041"})", "\xED\xA0\xBD" "A"},
        {R"({"changelog_version": "\ude00"})", "\xED\xB8\x80"},
        // Hex reading stops at the first non-hex character; all four are used up.
        {R"({"changelog_version": "\u41zzB"})", "AB"},
        // Fewer than four characters left after the u: the u itself.
        {R"({"changelog_version": "\u12")", "u12"},
        // Raw control bytes are copied.
        {"{\"changelog_version\": \"tab\there\x01raw\"}", "tab\there\x01raw"},
        {R"({"changelog_version":   "x"})", "x"},
    };
    for (const auto& c : cases) EXPECT_EQ(read(c.doc).changelog_version, c.expected) << c.doc;

    // The text ends inside the string: nothing is stored.
    EXPECT_EQ(read(R"({"changelog_version": "abc\")").changelog_version, "");
    EXPECT_EQ(read(R"({"changelog_version": "abc\)").changelog_version, "");
}

TEST(ServerStatusRead, ReasonAndPhaseBecomeUtf16) {
    ServerStatus s = read(R"({"reason": "Wartung\nheute\tab 10 Uhr", "phase": "Gr\u00fc\u00dfe \ud83d\ude00 \u00fc"})");
    EXPECT_EQ(s.reason, L"Wartung heute ab 10 Uhr");
    EXPECT_EQ(s.phase, L"Gr\u00fc\u00dfe \U0001F600 \u00fc");
    EXPECT_EQ(read("{\"reason\": \"caf\xC3\xA9\"}").reason, L"caf\u00e9");
}

TEST(ServerStatusRead, KeysAreTheFirstOccurrenceOfTheirQuotedName) {
    // "phase" first appears as reason's value; the next colon is x's.
    ServerStatus s = read(R"({"reason": "phase", "x": "wrong", "phase": "right"})");
    EXPECT_EQ(s.reason, L"phase");
    EXPECT_EQ(s.phase, L"wrong");
    // Inside a nested object counts as well.
    s = read(R"({"old": {"step": 2}, "step": 5})");
    EXPECT_EQ(s.step, 2);
    // A name without its quotes is not the key; "reason" is not found inside "reason_i18n".
    s = read(R"({"step_x": 4, "reason_i18n": {"en": "x"}})");
    EXPECT_EQ(s.step, 0);
    EXPECT_EQ(s.reason, L"");
    // The quoted name with no colon after it is missing.
    s.step = 6;
    kpatch::read_status(R"(["step"])", s, L"");
    EXPECT_EQ(s.step, 6);
}

TEST(ServerStatusRead, LocalizedReason) {
    struct Case {
        const char* doc;
        const wchar_t* language;
        const wchar_t* expected;
    } cases[] = {
        {R"({"reason": "Update", "reason_i18n": {"en": "Update", "de": "Aktualisierung"}})", L"de", L"Aktualisierung"},
        {R"({"reason_i18n": {"de": "Nur deutsch"}})", L"de", L"Nur deutsch"},
        {R"({"reason": "Update", "reason_i18n": {"de":"Mit\nZeile"}})", L"de", L"Mit Zeile"},
        {R"({"reason": "Update", "reason_i18n": {"de": ""}})", L"de", L"Update"},
        {R"({"reason": "Update", "reason_i18n": {"fr": "Mise"}})", L"de", L"Update"},
        // Only entries before the first '}' after the key count.
        {R"({"reason": "Update", "reason_i18n": {"fr": "Mise"}, "x": {"de": "Falsch"}})", L"de", L"Update"},
        {R"({"reason": "Update", "reason_i18n": {"en": {"t": 1}, "de": "Spaet"}})", L"de", L"Update"},
        // No language, or the entry is not a string: the plain reason.
        {R"({"reason": "Update", "reason_i18n": {"de": "Aktualisierung"}})", L"", L"Update"},
        {R"({"reason": "Update", "reason_i18n": {"de": 5}})", L"de", L"Update"},
        {R"({"reason": "Update", "reason_i18n": {"de": "open})", L"de", L"Update"},
        // The code is matched in quotes: "de" does not match inside "dex".
        {R"({"reason": "Update", "reason_i18n": {"dex": "Nein"}})", L"de", L"Update"},
        {R"({"reason": "Update", "reason_i18n": {"br": "Atualiza\u00e7\u00e3o"}})", L"br", L"Atualiza\u00e7\u00e3o"},
    };
    for (const auto& c : cases) EXPECT_EQ(read(c.doc, c.language).reason, c.expected) << c.doc;
}

TEST(ServerStatusRead, WithoutALanguageUsesTheCurrentOne) {
    const char* doc = R"({"reason": "Update", "reason_i18n": {"de": "Aktualisierung"}})";
    auto de = kpatch::find_language_row(L"de");
    ASSERT_TRUE(de);
    kpatch::set_current_language_row(*de);
    ServerStatus s;
    kpatch::read_status(doc, s);
    kpatch::set_current_language_row(0);
    EXPECT_EQ(s.reason, L"Aktualisierung");
    kpatch::read_status(doc, s);
    EXPECT_EQ(s.reason, L"Update");
}

class ServerStatusFetch : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.ok()) << server.error(); }
    void route(const std::string& json) { ASSERT_TRUE(server.route(json)) << server.error(); }
    // A record that is not the defaults, so a fetch has to reset it.
    static ServerStatus dirty() {
        ServerStatus s;
        s.maintenance = true;
        s.step = 3;
        s.reason = L"stale";
        s.raw = "stale";
        s.steps_done_at = {1, 2, 3, 4};
        return s;
    }
    kest_test::TestServer server;
};

TEST_F(ServerStatusFetch, ReadsTheServedDocument) {
    const std::string doc = "{\"maintenance\": true, \"opens_at\": 1700004000, \"phase\": \"Sichern\",\r\n"
                            " \"changelog_url\": \"https:\\/\\/example.invalid\\/n\"}";
    route(R"({"path": "/status.json", "body_b64": ")" + kest_test::base64(doc) + R"("})");
    ServerStatus s = dirty();
    ASSERT_TRUE(kpatch::fetch_status(server.url(L"/status.json"), s));
    EXPECT_EQ(s.raw, doc);
    EXPECT_TRUE(s.maintenance);
    EXPECT_EQ(s.opens_at, 1700004000);
    EXPECT_EQ(s.phase, L"Sichern");
    EXPECT_EQ(s.changelog_url, "https://example.invalid/n");
    // What the document did not name is back at the defaults.
    EXPECT_EQ(s.step, 0);
    EXPECT_EQ(s.reason, L"");
    EXPECT_EQ(s.steps_done_at, (std::array<std::int64_t, 4>{}));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].method, "GET");
}

TEST_F(ServerStatusFetch, AnEmptyBodyIsADownloadWithDefaults) {
    route(R"({"path": "/status.json"})");
    ServerStatus s = dirty();
    EXPECT_TRUE(kpatch::fetch_status(server.url(L"/status.json"), s));
    expect_defaults(s);
}

TEST_F(ServerStatusFetch, FailuresLeaveTheDefaults) {
    // At the limit it is read; one byte over, or an error status with a document, is refused.
    std::string at_limit = R"({"step": 2})";
    at_limit.resize(kpatch::kStatusMaxBytes, ' ');
    route(R"({"path": "/limit.json", "body": )" + kest_test::json_string(at_limit) + "}");
    route(R"({"path": "/big.json", "body": )" + kest_test::json_string(at_limit + " ") + "}");
    route(R"({"path": "/missing.json", "status": 404, "body": "{\"maintenance\": true}"})");

    ServerStatus s = dirty();
    ASSERT_TRUE(kpatch::fetch_status(server.url(L"/limit.json"), s));
    EXPECT_EQ(s.step, 2);
    EXPECT_EQ(s.raw.size(), kpatch::kStatusMaxBytes);

    for (const wchar_t* path : {L"/big.json", L"/missing.json"}) {
        SCOPED_TRACE(testing::Message() << path);
        s = dirty();
        EXPECT_FALSE(kpatch::fetch_status(server.url(path), s));
        expect_defaults(s);
    }
}

}  // namespace
