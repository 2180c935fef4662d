// The loopback test server itself: that it serves, misbehaves, records and stops as the
// launcher's HTTP tests will rely on. The client here is plain WinHTTP, not the product's.
#include <winsock2.h>

#include "tests/support/test_server.h"

#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <winhttp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>

using kest_test::TestServer;

namespace {

struct Fetch {
    DWORD error = 0;        // GetLastError of the call that failed, 0 when the whole exchange worked
    DWORD status = 0;
    std::string body;       // what arrived before any failure
    bool has_length = false;
    DWORD content_length = 0;
    std::wstring location, transfer_encoding, test_header;
    DWORD elapsed_ms = 0;
};

struct FetchOptions {
    const wchar_t* method = L"GET";
    std::string body;
    const wchar_t* headers = nullptr;
    DWORD timeout_ms = 5000;
    size_t max_body = 16 << 20;  // stop reading after this much
};

std::wstring query_header(HINTERNET request, DWORD what, const wchar_t* name = WINHTTP_HEADER_NAME_BY_INDEX) {
    wchar_t buf[512];
    DWORD size = sizeof buf;
    return WinHttpQueryHeaders(request, what, name, buf, &size, WINHTTP_NO_HEADER_INDEX) ? buf : L"";
}

Fetch fetch(const std::wstring& url, const FetchOptions& o = {}) {
    Fetch f;
    DWORD start = GetTickCount();
    URL_COMPONENTS parts{sizeof parts};
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    HINTERNET session = nullptr, connection = nullptr, request = nullptr;
    auto fail = [&] { f.error = GetLastError(); };
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
        fail();
        return f;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring object = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                                std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    session = WinHttpOpen(L"KestTestServerTest", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    connection = session ? WinHttpConnect(session, host.c_str(), parts.nPort, 0) : nullptr;
    request = connection ? WinHttpOpenRequest(connection, o.method, object.c_str(), nullptr, nullptr, nullptr,
                                              parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)
                         : nullptr;
    if (!request) {
        fail();
    } else {
        DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
        WinHttpSetTimeouts(request, 5000, 5000, 5000, o.timeout_ms);
        // Under Wine only this one bounds the wait for the response headers.
        DWORD timeout = o.timeout_ms;
        WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &timeout, sizeof timeout);
        if (!WinHttpSendRequest(request, o.headers ? o.headers : WINHTTP_NO_ADDITIONAL_HEADERS, o.headers ? -1L : 0,
                                const_cast<char*>(o.body.data()), static_cast<DWORD>(o.body.size()),
                                static_cast<DWORD>(o.body.size()), 0) ||
            !WinHttpReceiveResponse(request, nullptr)) {
            fail();
        } else {
            DWORD size = sizeof f.status;
            WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr, &f.status,
                                &size, nullptr);
            size = sizeof f.content_length;
            f.has_length = WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                                               nullptr, &f.content_length, &size, nullptr);
            f.location = query_header(request, WINHTTP_QUERY_LOCATION);
            f.transfer_encoding = query_header(request, WINHTTP_QUERY_TRANSFER_ENCODING);
            f.test_header = query_header(request, WINHTTP_QUERY_CUSTOM, L"X-Test");
            for (;;) {
                DWORD available = 0, got = 0;
                if (!WinHttpQueryDataAvailable(request, &available)) {
                    fail();
                    break;
                }
                // Wine's WinHTTP reads on past Content-Length when the server sends more
                // (Windows stops there), so this client stops there itself.
                if (f.has_length) available = std::min<DWORD>(available, f.content_length - f.body.size());
                if (available == 0) break;
                std::string chunk(available, '\0');
                if (!WinHttpReadData(request, chunk.data(), available, &got)) {
                    fail();
                    break;
                }
                f.body.append(chunk, 0, got);
                if (got == 0 || f.body.size() >= o.max_body) break;
            }
        }
    }
    if (request) WinHttpCloseHandle(request);
    if (connection) WinHttpCloseHandle(connection);
    if (session) WinHttpCloseHandle(session);
    f.elapsed_ms = GetTickCount() - start;
    return f;
}

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return s;
}

bool accepts_connections(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    closesocket(s);
    return ok;
}

// Compares bodies without printing megabytes when they differ.
testing::AssertionResult same_bytes(const std::string& got, const std::string& want) {
    if (got == want) return testing::AssertionSuccess();
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
    return testing::AssertionFailure() << "got " << got.size() << " bytes, want " << want.size()
                                       << "; first difference at " << i;
}

bool is_timeout(DWORD error) { return error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT; }

// Started as a child of TestServerProcess.ExitsWhenTheTestProgramDies: holds a server, writes
// its port to the file named by KEST_TEST_SERVER_HOLD and waits to be killed.
struct HoldServerWhenAsked {
    HoldServerWhenAsked() {
        const char* port_file = std::getenv("KEST_TEST_SERVER_HOLD");
        if (!port_file || !*port_file) return;
        TestServer server;
        std::wstring path;
        for (const char* p = port_file; *p; ++p) path.push_back(static_cast<unsigned char>(*p));
        kest_test::write_file(path, std::to_string(server.port()));
        Sleep(INFINITE);
    }
} hold_server_when_asked;

}  // namespace

TEST(TestServerRoot, ServesFilesWithTheirBytesAnd404ForTheRest) {
    kest_test::TempDir root;
    const std::string data = pattern(70000);
    CreateDirectoryW((root / L"sub").c_str(), nullptr);
    ASSERT_TRUE(kest_test::write_file(root / L"data.bin", data));
    ASSERT_TRUE(kest_test::write_file(root / L"sub\\a file.txt", "nested"));
    TestServer server({.root = root.path()});
    ASSERT_TRUE(server.ok()) << server.error();

    struct Case {
        const wchar_t* path;
        DWORD status;
        std::string body;
    } cases[] = {
        {L"/data.bin", 200, data},
        {L"/data.bin?v=2", 200, data},  // a query string does not change which file
        {L"/sub/a%20file.txt", 200, "nested"},
        {L"/missing.bin", 404, "not found\n"},
        {L"/sub", 404, "not found\n"},          // folders are not listed
        {L"/../data.bin", 404, "not found\n"},  // nothing outside the root
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.path);
        Fetch f = fetch(server.url(c.path));
        ASSERT_EQ(f.error, 0u);
        EXPECT_EQ(f.status, c.status);
        EXPECT_TRUE(same_bytes(f.body, c.body));
        EXPECT_TRUE(f.has_length);
        EXPECT_EQ(f.content_length, c.body.size());
    }

    Fetch head = fetch(server.url(L"/data.bin"), {.method = L"HEAD"});
    EXPECT_EQ(head.status, 200u);
    EXPECT_EQ(head.content_length, data.size());
    EXPECT_TRUE(head.body.empty());
}

TEST(TestServerRules, EachDeliveryModeReachesWinHttpAsScripted) {
    TestServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    const std::string big = pattern(2500);

    struct Case {
        const char* name;
        std::string rule;  // without the path
        FetchOptions options;
        std::function<void(const Fetch&)> check;
    } cases[] = {
        {"status and headers", R"("status": 202, "headers": {"X-Test": "yes"}, "body": "hi")", {},
         [](const Fetch& f) {
             EXPECT_EQ(f.error, 0u);
             EXPECT_EQ(f.status, 202u);
             EXPECT_EQ(f.test_header, L"yes");
             EXPECT_EQ(f.body, "hi");
         }},
        {"chunked", R"("mode": "chunked", "chunk": 1000, "body_b64": ")" + kest_test::base64(big) + "\"", {},
         [&](const Fetch& f) {
             EXPECT_EQ(f.error, 0u);
             EXPECT_TRUE(same_bytes(f.body, big));
             EXPECT_FALSE(f.has_length);
             EXPECT_EQ(f.transfer_encoding, L"chunked");
         }},
        {"close", R"("mode": "close", "body_b64": ")" + kest_test::base64(big) + "\"", {},
         [&](const Fetch& f) {
             EXPECT_EQ(f.error, 0u);
             EXPECT_TRUE(same_bytes(f.body, big));
             EXPECT_FALSE(f.has_length);
         }},
        {"truncate", R"("mode": "truncate", "truncate_at": 300, "body_b64": ")" + kest_test::base64(big) + "\"", {},
         [&](const Fetch& f) {
             EXPECT_EQ(f.status, 200u);
             EXPECT_EQ(f.content_length, big.size());
             EXPECT_TRUE(f.error != 0 || f.body.size() < big.size()) << f.body.size();
             EXPECT_TRUE(same_bytes(f.body, big.substr(0, 300)));
         }},
        {"slow", R"("mode": "slow", "chunk": 100, "interval_ms": 150, "body": ")" + std::string(400, 's') + "\"", {},
         [](const Fetch& f) {
             EXPECT_EQ(f.error, 0u);
             EXPECT_TRUE(same_bytes(f.body, std::string(400, 's')));
             EXPECT_GE(f.elapsed_ms, 400u);  // three pauses of 150 ms
         }},
        {"delay_ms", R"("delay_ms": 300, "body": "late")", {},
         [](const Fetch& f) {
             EXPECT_EQ(f.body, "late");
             EXPECT_GE(f.elapsed_ms, 280u);
         }},
        {"redirect", R"("mode": "redirect", "location": "/elsewhere")", {},
         [](const Fetch& f) {
             EXPECT_EQ(f.error, 0u);
             EXPECT_EQ(f.status, 301u);
             EXPECT_EQ(f.location, L"/elsewhere");
         }},
        {"endless", R"("mode": "endless", "body": "0123456789")", {.max_body = 200000},
         [](const Fetch& f) {
             EXPECT_EQ(f.error, 0u);
             EXPECT_FALSE(f.has_length);
             EXPECT_GE(f.body.size(), 200000u);
             EXPECT_EQ(f.body.substr(0, 12), "012345678901");
         }},
        {"endless with a length", R"("mode": "endless", "announce_length": 5000)", {},
         [](const Fetch& f) {
             EXPECT_EQ(f.error, 0u);
             EXPECT_EQ(f.content_length, 5000u);
             EXPECT_TRUE(same_bytes(f.body, std::string(5000, 'x')));
         }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = "/mode" + std::to_string(++n);
        ASSERT_TRUE(server.route(R"({"path": ")" + path + "\", " + c.rule + "}")) << server.error();
        c.check(fetch(server.url(std::wstring(path.begin(), path.end())), c.options));
    }
}

TEST(TestServerRules, SilentHoldsTheRequestUntilTheClientGivesUp) {
    TestServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    ASSERT_TRUE(server.route(R"({"path": "/hang", "mode": "silent"})")) << server.error();
    ASSERT_TRUE(server.route(R"({"path": "/fine", "body": "ok"})")) << server.error();

    Fetch f = fetch(server.url(L"/hang"), {.timeout_ms = 1000});
    EXPECT_TRUE(is_timeout(f.error)) << f.error;  // 10060 under Wine, 12002 on Windows
    EXPECT_GE(f.elapsed_ms, 900u);
    EXPECT_LT(f.elapsed_ms, 4000u);
    EXPECT_EQ(f.status, 0u);
    // The silent connection does not hold up the others.
    EXPECT_EQ(fetch(server.url(L"/fine")).body, "ok");
    auto log = server.requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].path, "/hang");
}

TEST(TestServerRules, MatchInOrderAndFallThroughOnceTheirTimesAreUsed) {
    kest_test::TempDir root;
    ASSERT_TRUE(kest_test::write_file(root / L"f", "from root"));
    TestServer server({.root = root.path()});
    ASSERT_TRUE(server.ok()) << server.error();
    for (const char* rule : {
             R"({"path": "/f", "status": 503, "body": "busy", "times": 1})",
             R"({"path": "/f", "body": "second", "times": 2})",
             R"({"path": "/q?v=1", "body": "v1"})",
             R"({"path": "/api/", "prefix": true, "method": "POST", "body": "posted"})",
         })
        ASSERT_TRUE(server.route(rule)) << server.error();

    struct Step {
        const wchar_t* method;
        const wchar_t* path;
        DWORD status;
        const char* body;
    } steps[] = {
        {L"GET", L"/f", 503, "busy"},
        {L"GET", L"/f", 200, "second"},
        {L"GET", L"/f", 200, "second"},
        {L"GET", L"/f", 200, "from root"},
        {L"GET", L"/f", 200, "from root"},
        {L"GET", L"/q?v=1", 200, "v1"},
        {L"GET", L"/q?v=2", 404, "not found\n"},  // the query string is part of an exact path
        {L"POST", L"/api/v2/send?x=1", 200, "posted"},
        {L"GET", L"/api/v2/send", 404, "not found\n"},  // the rule is for POST only
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << s.method << " " << s.path);
        Fetch f = fetch(server.url(s.path), {.method = s.method});
        EXPECT_EQ(f.status, s.status);
        EXPECT_EQ(f.body, s.body);
    }
}

TEST(TestServerRules, RefusesRulesItCannotApply) {
    TestServer server;  // no root
    ASSERT_TRUE(server.ok()) << server.error();
    for (const char* rule : {
             R"({"path": "/x", "mdoe": "chunked"})",           // a misspelt field
             R"({"body": "no path"})",
             R"({"path": "/x", "mode": "sometimes"})",
             R"({"path": "/x", "mode": "truncate"})",          // without truncate_at
             R"({"path": "/x", "file": "a.bin"})",             // files need a root
             R"({"path": "/x", "effects": [{"delete_file": "a"}]})",
             R"({"path": "/x", "body_b64": "not base64!"})",
             R"({"path": "/x", "times": 0})",
             R"({"path": "/x",)",
         }) {
        SCOPED_TRACE(rule);
        EXPECT_FALSE(server.route(rule));
        EXPECT_NE(server.error().find("400"), std::string::npos) << server.error();
    }
    EXPECT_EQ(fetch(server.url(L"/x")).status, 404u);
}

TEST(TestServerRules, EffectsChangeTheRootWhenTheRuleIsHit) {
    kest_test::TempDir root;
    ASSERT_TRUE(kest_test::write_file(root / L"index.txt", "old index"));
    ASSERT_TRUE(kest_test::write_file(root / L"old.txt", "old"));
    ASSERT_TRUE(kest_test::write_file(root / L"part.bin", "the real part"));
    TestServer server({.root = root.path()});
    ASSERT_TRUE(server.ok()) << server.error();
    const std::string binary("\x00\xff\r\n\x01", 5);
    ASSERT_TRUE(server.route(R"({"path": "/part.bin", "times": 1, "body": "corrupt", "effects": [)"
                             R"({"write_file": "index.txt", "body": "new index"},)"
                             R"({"write_file": "new/sub.bin", "body_b64": ")" + kest_test::base64(binary) + R"("},)"
                             R"({"delete_file": "old.txt"}]})"))
        << server.error();

    EXPECT_EQ(fetch(server.url(L"/index.txt")).body, "old index");
    EXPECT_EQ(fetch(server.url(L"/part.bin")).body, "corrupt");  // the first download only
    EXPECT_EQ(fetch(server.url(L"/part.bin")).body, "the real part");
    EXPECT_EQ(fetch(server.url(L"/index.txt")).body, "new index");
    EXPECT_EQ(kest_test::read_file(root / L"new\\sub.bin"), binary);
    EXPECT_EQ(fetch(server.url(L"/old.txt")).status, 404u);
    EXPECT_FALSE(kest_test::file_exists(root / L"old.txt"));
}

TEST(TestServerLog, RecordsEachRequestInOrderAndResetClearsRulesAndLog) {
    TestServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    ASSERT_TRUE(server.route(R"({"path": "/telemetry?v=1", "method": "POST", "status": 204})")) << server.error();
    const std::string body("{\"event\":\"start\"}\x00\xff\xe9", 20);

    Fetch post = fetch(server.url(L"/telemetry?v=1"),
                       {.method = L"POST", .body = body, .headers = L"Content-Type: application/json\r\nX-Kest: a b"});
    EXPECT_EQ(post.status, 204u);
    fetch(server.url(L"/news"));

    auto log = server.requests();  // the control requests are not in it
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].method, "POST");
    EXPECT_EQ(log[0].path, "/telemetry?v=1");
    EXPECT_EQ(log[0].body, body);
    EXPECT_EQ(log[0].header("content-type"), "application/json");
    EXPECT_EQ(log[0].header("content-length"), "20");
    EXPECT_EQ(log[0].header("x-kest"), "a b");
    EXPECT_EQ(log[0].header("host"), "127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(log[1].method, "GET");
    EXPECT_EQ(log[1].path, "/news");
    EXPECT_TRUE(log[1].body.empty());

    ASSERT_TRUE(server.reset());
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(fetch(server.url(L"/telemetry?v=1"), {.method = L"POST"}).status, 404u);
}

TEST(TestServerProcess, StopsWithItsOwnerAndWhenTheTestProgramDies) {
    int port = 0;
    {
        TestServer server;
        ASSERT_TRUE(server.ok()) << server.error();
        port = server.port();
        EXPECT_TRUE(accepts_connections(port));
    }
    EXPECT_FALSE(accepts_connections(port));

    // A test program that is killed cannot stop its server: the server sees its parent go.
    kest_test::TempDir folder;
    const std::wstring port_file = folder / L"port";
    SetEnvironmentVariableW(L"KEST_TEST_SERVER_HOLD", port_file.c_str());
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    kest_test::ChildProcess child(self, {L"--gtest_list_tests"});
    SetEnvironmentVariableW(L"KEST_TEST_SERVER_HOLD", nullptr);
    ASSERT_TRUE(child.started());
    port = 0;
    for (int i = 0; i < 500 && port == 0; ++i, Sleep(20)) port = std::atoi(kest_test::read_file(port_file).c_str());
    ASSERT_NE(port, 0);
    EXPECT_TRUE(accepts_connections(port));
    child.kill();
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i, Sleep(20)) gone = !accepts_connections(port);
    EXPECT_TRUE(gone) << "the server outlived the killed test program";
}

TEST(TestServerHttps, ServesWithATrustedTestCaAndOnlyForLocalhost) {
    std::wstring thumbprint;
    {
        kest_test::TrustedTestCa ca;
        ASSERT_TRUE(ca.ok()) << ca.error();
        thumbprint = ca.thumbprint();
        TestServer server({.https = true});
        ASSERT_TRUE(server.ok()) << server.error();
        ASSERT_TRUE(server.route(R"({"path": "/secure", "mode": "close", "body": "over tls"})")) << server.error();
        ASSERT_EQ(server.url(L"/secure").rfind(L"https://localhost:", 0), 0u);

        Fetch f = fetch(server.url(L"/secure"));
        EXPECT_EQ(f.error, 0u);
        EXPECT_EQ(f.status, 200u);
        EXPECT_EQ(f.body, "over tls");
        // The certificate names localhost only.
        Fetch by_ip = fetch(L"https://127.0.0.1:" + std::to_wstring(server.port()) + L"/secure");
        EXPECT_EQ(by_ip.error, static_cast<DWORD>(ERROR_WINHTTP_SECURE_CHANNEL_ERROR));
        EXPECT_EQ(server.requests().size(), 1u);
    }
    HKEY key;
    const std::wstring name = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + thumbprint;
    LSTATUS opened = RegOpenKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, KEY_READ, &key);
    if (opened == ERROR_SUCCESS) RegCloseKey(key);
    EXPECT_EQ(opened, ERROR_FILE_NOT_FOUND) << "the test CA is still in the Root store";
}

TEST(TestServerHttps, UntrustedCertificateFailsTheHandshake) {
    if (kest_test::TrustedTestCa::made_in_this_process())
        GTEST_SKIP() << "Wine keeps the Root store it read first for the whole process: run this test alone";
    TestServer server({.https = true});
    ASSERT_TRUE(server.ok()) << server.error();
    Fetch f = fetch(server.url(L"/"));
    EXPECT_EQ(f.error, static_cast<DWORD>(ERROR_WINHTTP_SECURE_CHANNEL_ERROR));
    EXPECT_TRUE(server.requests().empty());
}
