#include "common/http_client.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace kpatch {
namespace {

struct InternetHandleCloser {
    void operator()(HINTERNET h) const noexcept { WinHttpCloseHandle(h); }
};
using unique_internet = std::unique_ptr<void, InternetHandleCloser>;

// Callers read GetLastError right after a failed call (to tell a full disk from a network
// error): keep the failing call's error across the handle closing that follows it.
struct LastErrorKeeper {
    DWORD code = 0;
    bool failed = false;
    ~LastErrorKeeper() {
        if (failed) SetLastError(code);
    }
};

void set_error(std::wstring* error, const wchar_t* text, bool with_code, DWORD code = 0) {
    if (!error) return;
    *error = text;
    if (with_code && code != 0) *error += L" (" + std::to_wstring(code) + L")";
}

void create_parent_folders(const std::wstring& path) {
    size_t end = path.find_last_of(L"\\/");
    if (end == std::wstring::npos) return;
    std::wstring folder = path.substr(0, end);
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    if (folder.empty()) return;
    // Create each missing level from the top; failures show up when the file is opened.
    for (size_t i = 0; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == L'\\' || folder[i] == L'/') {
            std::wstring level = folder.substr(0, i);
            if (!level.empty() && level.back() != L':') CreateDirectoryW(level.c_str(), nullptr);
        }
    }
}

}  // namespace

bool http_request(const std::wstring& url, const wchar_t* verb, const std::string* body, const wchar_t* extra_headers,
                  int timeout_ms, const HttpConsumer& consumer, const HttpProgress& progress, std::wstring* error) {
    LastErrorKeeper keeper;  // destroyed after the WinHTTP handles
    auto fail = [&](const wchar_t* text, bool with_code) {
        keeper.code = GetLastError();
        keeper.failed = true;
        set_error(error, text, with_code, keeper.code);
        return false;
    };
    wchar_t host[256] = {};
    std::vector<wchar_t> path(4096);
    URL_COMPONENTS parts{sizeof parts};
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    // The query string belongs to the request path.
    std::vector<wchar_t> extra(4096);
    parts.lpszExtraInfo = extra.data();
    parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
        return fail(L"bad url", false);
    }
    std::wstring query(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    query = query.substr(0, query.find(L'#'));  // a fragment is never sent
    std::wstring object = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) + query;
    if (object.empty()) object = L"/";

    unique_internet session(WinHttpOpen(kHttpUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                        WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        return fail(L"WinHttpOpen failed", true);
    }
    WinHttpSetTimeouts(session.get(), timeout_ms, timeout_ms, timeout_ms, timeout_ms);
    unique_internet connection(WinHttpConnect(session.get(), host, parts.nPort, 0));
    if (!connection) {
        return fail(L"connect failed", true);
    }
    DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    unique_internet request(WinHttpOpenRequest(connection.get(), verb, object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                               WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!request) {
        return fail(L"open request failed", true);
    }
    // WinHttpSetTimeouts does not bound the wait for the response headers everywhere (Wine
    // waits forever on a server that accepts and stays silent); this option does.
    DWORD response_timeout = static_cast<DWORD>(timeout_ms);
    WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout,
                     sizeof response_timeout);

    LPVOID data = body ? const_cast<char*>(body->data()) : WINHTTP_NO_REQUEST_DATA;
    DWORD length = body ? static_cast<DWORD>(body->size()) : 0;
    if (!WinHttpSendRequest(request.get(), extra_headers ? extra_headers : WINHTTP_NO_ADDITIONAL_HEADERS,
                            extra_headers ? static_cast<DWORD>(-1) : 0, data, length, length, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        return fail(L"send/recv failed", true);
    }

    DWORD status = 0, size = sizeof status;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    if (status < 200 || status > 299) {
        if (error) *error = L"http status " + std::to_wstring(status);
        return false;
    }
    DWORD content_length = 0;
    size = sizeof content_length;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &content_length, &size, WINHTTP_NO_HEADER_INDEX))
        content_length = 0;

    std::int64_t total = 0;
    std::vector<char> chunk;
    for (;;) {
        // The body ends at its announced length, even when a server sends more (and some
        // WinHTTP versions hand the excess on, then wait for a response that never comes).
        if (content_length != 0 && total == static_cast<std::int64_t>(content_length)) return true;
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available)) {
            return fail(L"query data failed", true);
        }
        if (available == 0) {
            // A connection that closes before the announced length is a cut-off body, not
            // a complete one (WinHTTP may report it as a normal end).
            if (content_length != 0 && total != static_cast<std::int64_t>(content_length)) {
                return fail(L"read failed", false);
            }
            return true;
        }
        if (content_length != 0)
            available = static_cast<DWORD>(std::min<std::int64_t>(available, content_length - total));
        chunk.assign(available, 0);
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), chunk.data(), available, &read) || read == 0) {
            return fail(L"read failed", true);
        }
        if (consumer && !consumer(chunk.data(), read, content_length)) {
            return fail(L"write failed", false);
        }
        total += read;
        if (progress && !progress(total, content_length ? static_cast<std::int64_t>(content_length) : total)) {
            return fail(L"cancelled", false);
        }
    }
}

bool http_get_buffer(const std::wstring& url, std::string& body, std::wstring* error, std::uint64_t max_bytes) {
    body.clear();
    bool too_large = false;
    auto append = [&](const char* bytes, std::size_t count, std::uint64_t) {
        if (body.size() + count > max_bytes) {
            too_large = true;
            return false;
        }
        body.append(bytes, count);
        return true;
    };
    if (http_request(url, L"GET", nullptr, nullptr, kHttpGetTimeoutMs, append, nullptr, error)) return true;
    if (too_large) {
        body.clear();
        if (error) *error = L"response too large";
    }
    return false;
}

bool http_get_file(const std::wstring& url, const std::wstring& path, const HttpProgress& progress,
                   std::wstring* error) {
    create_parent_folders(path);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        set_error(error, L"cannot open destination", false);
        return false;
    }
    auto write = [file](const char* bytes, std::size_t count, std::uint64_t) {
        DWORD written = 0;
        if (!WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr)) return false;
        if (written != count) SetLastError(ERROR_DISK_FULL);
        return written == count;
    };
    bool ok = http_request(url, L"GET", nullptr, nullptr, kHttpGetTimeoutMs, write, progress, error);
    DWORD code = GetLastError();
    CloseHandle(file);
    if (!ok) {
        DeleteFileW(path.c_str());
        SetLastError(code);
    }
    return ok;
}

bool http_post_json(const std::wstring& url, const std::string& json, std::wstring* error) {
    auto drop = [](const char*, std::size_t, std::uint64_t) { return true; };
    return http_request(url, L"POST", &json, L"Content-Type: application/json\r\n", kHttpPostTimeoutMs, drop, nullptr,
                        error);
}

}  // namespace kpatch
