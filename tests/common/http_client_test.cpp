// The HTTP client against real loopback servers that misbehave on purpose.
#include "common/http_client.h"

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

#include <gtest/gtest.h>

namespace {

using kest_test::base64;
using kest_test::TestServer;

class HttpClient : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.ok()) << server.error(); }
    void route(const std::string& json) { ASSERT_TRUE(server.route(json)) << server.error(); }
    std::wstring url(const wchar_t* path) { return server.url(path); }
    // Error texts end in " (N)" with the Windows error, where there is one.
    static bool has_code(const std::wstring& text, std::initializer_list<int> codes) {
        for (int c : codes)
            if (text.ends_with(L" (" + std::to_wstring(c) + L")")) return true;
        return false;
    }
    kest_test::TempDir dir;
    TestServer server{{dir.path()}};
};

TEST_F(HttpClient, GetsAFileIntoMemoryWithTheUserAgent) {
    ASSERT_TRUE(kest_test::write_file(dir / L"index.txt", "a=b\t1\n"));
    std::string body = "stale";
    std::wstring error;
    ASSERT_TRUE(kpatch::http_get_buffer(url(L"/index.txt"), body, &error, 1024)) << error.c_str();
    EXPECT_EQ(body, "a=b\t1\n");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].header("user-agent"), "KestPatcher/2.0");
}

TEST_F(HttpClient, AnErrorStatusIsReportedAndItsBodyIsNotRead) {
    route(R"({"path": "/missing.txt", "status": 404, "body": "not here"})");
    route(R"({"path": "/broken", "status": 500, "body": "oops"})");
    std::string body = "stale";
    std::wstring error;
    EXPECT_FALSE(kpatch::http_get_buffer(url(L"/missing.txt"), body, &error, 1024));
    EXPECT_EQ(error, L"http status 404");
    EXPECT_EQ(body, "");
    EXPECT_FALSE(kpatch::http_get_file(url(L"/broken"), dir / L"out.bin", {}, &error));
    EXPECT_EQ(error, L"http status 500");
    EXPECT_FALSE(kest_test::file_exists(dir / L"out.bin"));
}

TEST_F(HttpClient, TheSizeCapAcceptsExactlyMaxBytes) {
    for (const char* mode : {"length", "chunked"}) {
        SCOPED_TRACE(mode);
        ASSERT_TRUE(server.reset());
        route(std::string(R"({"path": "/body", "mode": ")") + mode + R"(", "body": "0123456789"})");
        std::string body;
        std::wstring error;
        EXPECT_TRUE(kpatch::http_get_buffer(url(L"/body"), body, &error, 10));
        EXPECT_EQ(body, "0123456789");
        EXPECT_FALSE(kpatch::http_get_buffer(url(L"/body"), body, &error, 9));
        EXPECT_EQ(error, L"response too large");
        EXPECT_EQ(body, "");
    }
}

TEST_F(HttpClient, ProgressWithoutContentLengthCountsTheBytesSoFar) {
    route(R"({"path": "/stream", "mode": "close", "body_b64": ")" + base64(std::string(300000, 'z')) + R"("})");
    std::vector<std::pair<std::int64_t, std::int64_t>> calls;
    std::wstring error;
    ASSERT_TRUE(kpatch::http_get_file(url(L"/stream"), dir / L"sub\\dir\\out.bin",
                                      [&](std::int64_t done, std::int64_t total) {
                                          calls.emplace_back(done, total);
                                          return true;
                                      },
                                      &error))
        << error.c_str();
    EXPECT_EQ(kest_test::read_file(dir / L"sub\\dir\\out.bin"), std::string(300000, 'z')) << "folders are created";
    ASSERT_FALSE(calls.empty());
    for (auto [done, total] : calls) EXPECT_EQ(done, total);
    EXPECT_EQ(calls.back().first, 300000);
}

TEST_F(HttpClient, ARefusedProgressCancelsAndLeavesNoFile) {
    route(R"({"path": "/big", "body_b64": ")" + base64(std::string(200000, 'q')) + R"("})");
    int calls = 0;
    std::wstring error;
    EXPECT_FALSE(kpatch::http_get_file(url(L"/big"), dir / L"big.bin",
                                       [&](std::int64_t done, std::int64_t total) {
                                           EXPECT_EQ(total, 200000);
                                           return ++calls < 1;
                                       },
                                       &error));
    EXPECT_EQ(error, L"cancelled");
    EXPECT_EQ(calls, 1) << "the transfer ends after the chunk in progress";
    EXPECT_FALSE(kest_test::file_exists(dir / L"big.bin"));
}

TEST_F(HttpClient, ATruncatedBodyFailsAndLeavesNoFile) {
    route(R"({"path": "/cut", "mode": "truncate", "truncate_at": 1000, "body_b64": ")" +
          base64(std::string(5000, 'c')) + R"("})");
    std::wstring error;
    EXPECT_FALSE(kpatch::http_get_file(url(L"/cut"), dir / L"cut.bin", {}, &error));
    EXPECT_TRUE(error.starts_with(L"read failed") || error.starts_with(L"query data failed")) << error.c_str();
    EXPECT_FALSE(kest_test::file_exists(dir / L"cut.bin"));
}

TEST_F(HttpClient, ARedirectIsFollowed) {
    ASSERT_TRUE(kest_test::write_file(dir / L"new.txt", "moved here"));
    route(R"({"path": "/old.txt", "mode": "redirect", "location": "/new.txt"})");
    std::string body;
    std::wstring error;
    EXPECT_TRUE(kpatch::http_get_buffer(url(L"/old.txt"), body, &error, 100));
    EXPECT_EQ(body, "moved here");
}

TEST_F(HttpClient, PostSendsExactlyTheJsonAndItsContentType) {
    route(R"({"path": "/v1/funnel", "status": 204})");
    const std::string json = "{\"event\":\"setup_opened\",\"lang\":\"pt\",\"text\":\"S\xc3\xa3o\"}";
    std::wstring error;
    ASSERT_TRUE(kpatch::http_post_json(url(L"/v1/funnel"), json, &error)) << error.c_str();
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, json);
    EXPECT_EQ(requests[0].header("content-type"), "application/json");
    EXPECT_EQ(requests[0].header("user-agent"), "KestPatcher/2.0");
}

TEST_F(HttpClient, AServerThatNeverAnswersTimesOut) {
    route(R"({"path": "/v1/launcher", "mode": "silent"})");
    std::wstring error;
    DWORD start = GetTickCount();
    EXPECT_FALSE(kpatch::http_post_json(url(L"/v1/launcher"), "{}", &error));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_TRUE(error.starts_with(L"send/recv failed") && has_code(error, {12002, 10060})) << error.c_str();
    EXPECT_GE(elapsed, 4000u);
    EXPECT_LT(elapsed, 30000u) << "the POST time-out is 5 s";
}

TEST(HttpClientErrors, UrlAndConnectionFailures) {
    std::wstring error;
    std::string body;
    EXPECT_FALSE(kpatch::http_get_buffer(L"not a url", body, &error, 10));
    EXPECT_EQ(error, L"bad url");
    EXPECT_FALSE(kpatch::http_get_buffer(L"ftp://127.0.0.1/x", body, &error, 10));
    EXPECT_EQ(error, L"bad url");
    // Nobody listens on port 1: refused at once.
    EXPECT_FALSE(kpatch::http_get_buffer(L"http://127.0.0.1:1/index.txt", body, &error, 10));
    EXPECT_EQ(error, L"send/recv failed (12029)");
    kest_test::TempDir dir;
    EXPECT_FALSE(kpatch::http_get_file(L"http://127.0.0.1:1/x", dir / L"x.bin", {}, &error));
    EXPECT_FALSE(kest_test::file_exists(dir / L"x.bin"));
    EXPECT_FALSE(kpatch::http_get_file(L"http://127.0.0.1:1/x", dir.path(), {}, &error));
    EXPECT_EQ(error, L"cannot open destination");
}

}  // namespace
