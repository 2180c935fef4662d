// The programs' HTTP client on WinHTTP: synchronous GETs into memory or a file and the
// JSON POST of telemetry. Errors come back as short English texts ("http status 404",
// "send/recv failed (12029)", ...), which callers show inside localized messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kpatch {

inline constexpr wchar_t kHttpUserAgent[] = L"KestPatcher/2.0";
inline constexpr int kHttpGetTimeoutMs = 15000;
inline constexpr int kHttpPostTimeoutMs = 5000;

// done and total bytes (total = Content-Length, or done when the server sent none);
// returning false cancels after the chunk in progress.
using HttpProgress = std::function<bool(std::int64_t done, std::int64_t total)>;
// One chunk of the body (bytes, count, Content-Length or 0); false refuses it.
using HttpConsumer = std::function<bool(const char* bytes, std::size_t count, std::uint64_t content_length)>;

// GET into body (emptied first). True for a 2xx answer whose whole body is at most max_bytes.
bool http_get_buffer(const std::wstring& url, std::string& body, std::wstring* error, std::uint64_t max_bytes);

// GET into the file at path (its folders are created). A failed download never leaves a
// file under path.
bool http_get_file(const std::wstring& url, const std::wstring& path, const HttpProgress& progress,
                   std::wstring* error);

// POST of a JSON body; the answer's body is read and dropped. True for a 2xx status.
bool http_post_json(const std::wstring& url, const std::string& json, std::wstring* error);

// The request all three use. body may be null (no body); extra_headers may be null.
bool http_request(const std::wstring& url, const wchar_t* verb, const std::string* body, const wchar_t* extra_headers,
                  int timeout_ms, const HttpConsumer& consumer, const HttpProgress& progress, std::wstring* error);

}  // namespace kpatch
