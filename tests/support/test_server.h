// Loopback HTTP/HTTPS servers for tests: owns a tests/support/http_test_server.py process
// (started as a native Linux program through Wine's __wine_unix_spawnvp), scripts it through
// its control port, and stops it when the object goes. The server also exits by itself when
// the test program dies. Usage and the rule fields: tests/support/README.md.
//
// Test-only: this uses Wine's own exports and raw Winsock, never the product's HTTP code.
#pragma once

#include "tests/support/temp_dir.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kest_test {

// One request as the server saw it. Header names are lower-case; repeated headers are
// joined with ", ".
struct RecordedRequest {
    std::string method;
    std::string path;  // as sent, query string included
    std::map<std::string, std::string> headers;
    std::string body;  // raw bytes (a chunked request body is decoded)

    std::string header(const std::string& lower_case_name) const;  // empty when absent
};

// The port of the development configuration's patch server (config/development.cmake):
// tests of the real engine serve it there. They run one at a time.
inline constexpr int kDevPatchServerPort = 18480;

struct TestServerOptions {
    std::wstring root;   // Windows folder served for GET/HEAD of unscripted paths; empty = none
    bool https = false;  // TLS with the process's test certificate for "localhost" (see TestCertificates)
    int port = 0;        // 0: an ephemeral port; else this one (the launcher's development patch server)
};

class TestServer {
public:
    explicit TestServer(TestServerOptions options = {});
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    bool ok() const { return port_ != 0; }
    const std::string& error() const { return error_; }  // why it did not start, or why a call failed
    int port() const { return port_; }
    // "http://127.0.0.1:PORT/path", or "https://localhost:PORT/path" (the certificate's name).
    std::wstring url(std::wstring_view path = L"/") const;

    // Adds a rule (a JSON object); false, with error(), when the server refused it.
    bool route(const std::string& rule_json);
    std::vector<RecordedRequest> requests();
    // Waits until at least count requests have arrived; returns them (fewer on time-out).
    std::vector<RecordedRequest> wait_for_requests(size_t count, DWORD timeout_ms = 5000);
    bool reset();  // drops every rule and the request log
    void stop();   // the destructor does this; the server is gone when it returns

private:
    struct Control {
        int status = 0;  // 0: no answer
        std::string body;
    };
    Control control(const char* method, const char* what, const std::string& body = {});

    struct Process;
    std::shared_ptr<Process> process_;
    TempDir folder_;
    bool https_ = false;
    int port_ = 0;
    int control_port_ = 0;
    long pid_ = 0;
    std::string error_;
};

// A test CA and a certificate for "localhost" (SAN DNS:localhost) signed by it, made once per
// test program with the openssl command in a temp folder that goes at exit.
struct TestCertificates {
    bool ok = false;
    std::wstring ca_cert;      // PEM
    std::wstring server_cert;  // PEM
    std::wstring server_key;   // PEM, unencrypted
    std::string error;
};
const TestCertificates& test_certificates();

// Trusts the test CA in the prefix's current-user Root store while it lives, and removes it
// again. Under Wine the removal has to delete the store's registry key: deleting through the
// store reports success and keeps the certificate.
//
// Trust before the program's first HTTPS request: Wine's crypt32 reads the Root store once per
// process, so a CA added or removed afterwards is not seen by that process's later requests.
class TrustedTestCa {
public:
    TrustedTestCa();
    ~TrustedTestCa();
    TrustedTestCa(const TrustedTestCa&) = delete;
    TrustedTestCa& operator=(const TrustedTestCa&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::wstring& thumbprint() const { return thumbprint_; }  // SHA-1, upper-case hex
    // Whether this process ever trusted the test CA: its later HTTPS requests may still trust it.
    static bool made_in_this_process();

private:
    bool ok_ = false;
    std::string error_;
    std::wstring thumbprint_;
};

// Helpers for writing rules.
std::string base64(std::string_view bytes);
std::string json_string(std::string_view utf8);  // a quoted JSON string literal

// Runs a native Linux program (argv[0] a path or a name on PATH) under Wine and waits for it.
// Returns its exit code, 255 for a signal, or an NTSTATUS (negative) when it could not start.
long run_unix_program(const std::vector<std::string>& argv);
// The Unix path of a Windows path (Wine's view); empty when Wine cannot map it.
std::string unix_path(const std::wstring& windows_path);

}  // namespace kest_test
