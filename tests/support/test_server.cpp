#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/support/test_server.h"

#include "common/unique_handle.h"
#include "tests/support/files.h"

#include <wincrypt.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#ifndef KEST_SOURCE_DIR
#error "KEST_SOURCE_DIR (the source tree as a Unix path) must be defined"
#endif

namespace kest_test {
namespace {

const char* const kPython = "/usr/bin/python3";
const char* const kOpenssl = "/usr/bin/openssl";
const char* const kServerScript = KEST_SOURCE_DIR "/tests/support/http_test_server.py";

// --- Wine's exports for starting Linux programs and mapping paths.

using SpawnvpFn = LONG(CDECL*)(char* const argv[], int wait);
using UnixFileNameFn = char*(CDECL*)(LPCWSTR dos_path);

SpawnvpFn spawnvp() {
    static auto fn = reinterpret_cast<SpawnvpFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));
    return fn;
}

// With wait=1 Wine forks and execs the program directly and waits for it: the program's parent
// is this process, which is what the server's parent-watch relies on. (With wait=0 Wine forks
// twice, and the program's parent is init from the start.)
long spawn_and_wait(const std::vector<std::string>& argv) {
    auto fn = spawnvp();
    if (!fn) return static_cast<long>(0xC0000002L);  // STATUS_NOT_IMPLEMENTED: not under Wine
    std::vector<std::string> copy = argv;
    std::vector<char*> ptrs;
    for (auto& a : copy) ptrs.push_back(a.data());
    ptrs.push_back(nullptr);
    return fn(ptrs.data(), 1);
}

// --- A JSON reader good enough for the server's own replies. Strings come back as the bytes
// the server read off the wire: it decodes them as Latin-1, so code points below 256 are bytes.

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    std::string text;
    double number = 0;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json* find(std::string_view name) const {
        for (const auto& [k, v] : members)
            if (k == name) return &v;
        return nullptr;
    }
    std::string str(std::string_view name) const {
        const Json* v = find(name);
        return v && v->kind == String ? v->text : std::string();
    }
};

class JsonReader {
public:
    explicit JsonReader(std::string_view s) : s_(s) {}

    bool read(Json& out) {
        if (!value(out, 0)) return false;
        space();
        return i_ == s_.size();
    }

private:
    void space() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
    }
    bool eat(char c) {
        space();
        if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
        return false;
    }
    bool word(std::string_view w) {
        if (s_.substr(i_, w.size()) != w) return false;
        i_ += w.size();
        return true;
    }
    bool hex4(unsigned& v) {
        if (i_ + 4 > s_.size()) return false;
        v = 0;
        for (int k = 0; k < 4; ++k) {
            char c = s_[i_++];
            v <<= 4;
            if (c >= '0' && c <= '9') v |= c - '0';
            else if (c >= 'a' && c <= 'f') v |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') v |= c - 'A' + 10;
            else return false;
        }
        return true;
    }
    bool string(std::string& out) {
        if (!eat('"')) return false;
        while (i_ < s_.size()) {
            char c = s_[i_++];
            if (c == '"') return true;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (i_ >= s_.size()) return false;
            char e = s_[i_++];
            switch (e) {
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'u': {
                unsigned cp;
                if (!hex4(cp)) return false;
                if (cp >= 0xD800 && cp < 0xDC00 && word("\\u")) {
                    unsigned low;
                    if (!hex4(low)) return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                if (cp < 0x100) {
                    out.push_back(static_cast<char>(cp));
                } else if (cp < 0x800) {
                    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
                    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
                } else if (cp < 0x10000) {
                    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
                    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
                    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
                } else {
                    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
                    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
                    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
                    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
                }
                break;
            }
            default: out.push_back(e); break;  // \" \\ \/
            }
        }
        return false;
    }
    bool value(Json& out, int depth) {
        if (depth > 32) return false;
        space();
        if (i_ >= s_.size()) return false;
        char c = s_[i_];
        if (c == '{') {
            ++i_;
            out.kind = Json::Object;
            if (eat('}')) return true;
            do {
                std::string name;
                Json v;
                if (!string(name) || !eat(':') || !value(v, depth + 1)) return false;
                out.members.emplace_back(std::move(name), std::move(v));
            } while (eat(','));
            return eat('}');
        }
        if (c == '[') {
            ++i_;
            out.kind = Json::Array;
            if (eat(']')) return true;
            do {
                Json v;
                if (!value(v, depth + 1)) return false;
                out.items.push_back(std::move(v));
            } while (eat(','));
            return eat(']');
        }
        if (c == '"') {
            out.kind = Json::String;
            return string(out.text);
        }
        if (word("true")) {
            out.kind = Json::Bool;
            out.number = 1;
            return true;
        }
        if (word("false")) {
            out.kind = Json::Bool;
            return true;
        }
        if (word("null")) return true;
        size_t start = i_;
        while (i_ < s_.size() && std::strchr("+-0123456789.eE", s_[i_])) ++i_;
        if (start == i_) return false;
        out.kind = Json::Number;
        out.number = std::strtod(std::string(s_.substr(start, i_ - start)).c_str(), nullptr);
        return true;
    }

    std::string_view s_;
    size_t i_ = 0;
};

std::string base64_decode(std::string_view in) {
    auto digit = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : in) {
        int d = digit(c);
        if (d < 0) continue;  // padding
        bits = (bits << 6) | static_cast<unsigned>(d);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

class WinsockInit {
public:
    WinsockInit() {
        WSADATA data;
        ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockInit() {
        if (ok_) WSACleanup();
    }

private:
    bool ok_ = false;
};

}  // namespace

// --- public helpers

std::string RecordedRequest::header(const std::string& lower_case_name) const {
    auto it = headers.find(lower_case_name);
    return it == headers.end() ? std::string() : it->second;
}

std::string base64(std::string_view bytes) {
    static const char* const digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                     static_cast<unsigned char>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) out.push_back(digits[(v >> shift) & 63]);
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out.push_back(digits[(v >> 18) & 63]);
        out.push_back(digits[(v >> 12) & 63]);
        out.push_back(i + 1 < bytes.size() ? digits[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::string json_string(std::string_view utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out.push_back(c);
        }
    }
    return out + "\"";
}

long run_unix_program(const std::vector<std::string>& argv) { return spawn_and_wait(argv); }

std::string unix_path(const std::wstring& windows_path) {
    static auto fn = reinterpret_cast<UnixFileNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!fn) return {};
    char* p = fn(windows_path.c_str());
    if (!p) return {};
    std::string out = p;
    HeapFree(GetProcessHeap(), 0, p);
    return out;
}

// --- TestServer

// The server process, waited for on a thread of its own; shared with that thread, which can
// outlive the TestServer when the process cannot be stopped.
struct TestServer::Process {
    std::vector<std::string> argv;
    kpatch::unique_kernel_handle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<long> exit_code{0};
    std::thread waiter;
};

TestServer::TestServer(TestServerOptions options) : https_(options.https) {
    static WinsockInit winsock;
    const std::wstring port_file = folder_ / L"port";
    std::vector<std::string> argv = {kPython, "-I", kServerScript, "--port-file", unix_path(port_file)};
    if (argv.back().empty()) {
        error_ = "cannot map the temp folder to a Unix path (not running under Wine?)";
        return;
    }
    if (!options.root.empty()) {
        std::string root = unix_path(options.root);
        if (root.empty()) {
            error_ = "cannot map the root folder to a Unix path";
            return;
        }
        argv.insert(argv.end(), {"--root", root});
    }
    if (options.port != 0) argv.insert(argv.end(), {"--port", std::to_string(options.port)});
    if (https_) {
        const TestCertificates& certs = test_certificates();
        if (!certs.ok) {
            error_ = "test certificates: " + certs.error;
            return;
        }
        argv.insert(argv.end(), {"--https", unix_path(certs.server_cert), unix_path(certs.server_key)});
    }

    process_ = std::make_shared<Process>();
    process_->argv = std::move(argv);
    process_->waiter = std::thread([p = process_] {
        p->exit_code = spawn_and_wait(p->argv);
        SetEvent(p->done.get());
    });

    for (DWORD start = GetTickCount(); GetTickCount() - start < 10000;) {
        if (WaitForSingleObject(process_->done.get(), 20) == WAIT_OBJECT_0) {
            error_ = "the server exited at start with " + std::to_string(process_->exit_code.load()) + " (see stderr)";
            return;
        }
        std::string text = read_file(port_file);
        int port = 0, control_port = 0;
        long pid = 0;
        if (std::sscanf(text.c_str(), "%d %d %ld", &port, &control_port, &pid) == 3) {
            control_port_ = control_port;
            pid_ = pid;
            port_ = port;
            return;
        }
    }
    error_ = "the server did not report its port within 10 s";
}

TestServer::~TestServer() { stop(); }

void TestServer::stop() {
    if (!process_) return;
    HANDLE done = process_->done.get();
    if (control_port_) control("POST", "stop");
    if (WaitForSingleObject(done, 5000) != WAIT_OBJECT_0 && pid_) {
        run_unix_program({"/bin/sh", "-c", "kill -KILL \"$1\"", "sh", std::to_string(pid_)});
        WaitForSingleObject(done, 5000);
    }
    if (WaitForSingleObject(done, 0) == WAIT_OBJECT_0) process_->waiter.join();
    else process_->waiter.detach();  // it ends with the test program
    process_.reset();
    port_ = control_port_ = 0;
}

std::wstring TestServer::url(std::wstring_view path) const {
    std::wstring out = https_ ? L"https://localhost:" : L"http://127.0.0.1:";
    out += std::to_wstring(port_);
    if (path.empty() || path.front() != L'/') out += L'/';
    return out.append(path);
}

TestServer::Control TestServer::control(const char* method, const char* what, const std::string& body) {
    Control result;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return result;
    DWORD timeout = 10000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(control_port_));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string response;
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        std::string request = std::string(method) + " /__control/" + what +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body;
        bool sent = true;
        for (size_t off = 0; sent && off < request.size();) {
            int n = send(s, request.data() + off, static_cast<int>(request.size() - off), 0);
            if (n <= 0) sent = false;
            else off += n;
        }
        char buf[16384];
        for (int n; sent && (n = recv(s, buf, sizeof buf, 0)) > 0;) response.append(buf, n);
    }
    closesocket(s);
    size_t header_end = response.find("\r\n\r\n");
    if (header_end == std::string::npos || std::sscanf(response.c_str(), "HTTP/1.%*d %d", &result.status) != 1) {
        result.status = 0;
        error_ = std::string("no answer from the control port to ") + what;
        return result;
    }
    result.body = response.substr(header_end + 4);
    if (result.status != 200) error_ = std::string(what) + ": " + std::to_string(result.status) + " " + result.body;
    return result;
}

bool TestServer::route(const std::string& rule_json) { return ok() && control("POST", "route", rule_json).status == 200; }

bool TestServer::reset() { return ok() && control("POST", "reset").status == 200; }

std::vector<RecordedRequest> TestServer::requests() {
    std::vector<RecordedRequest> out;
    if (!ok()) return out;
    Control c = control("GET", "requests");
    Json log;
    if (c.status != 200 || !JsonReader(c.body).read(log) || log.kind != Json::Array) {
        if (c.status == 200) error_ = "requests: unreadable reply";
        return out;
    }
    for (const Json& item : log.items) {
        RecordedRequest r;
        r.method = item.str("method");
        r.path = item.str("path");
        r.body = base64_decode(item.str("body_b64"));
        if (const Json* h = item.find("headers"))
            for (const auto& [name, value] : h->members) r.headers[name] = value.text;
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<RecordedRequest> TestServer::wait_for_requests(size_t count, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        auto log = requests();
        if (log.size() >= count || GetTickCount() - start >= timeout_ms || !ok()) return log;
        Sleep(20);
    }
}

// --- certificates

const TestCertificates& test_certificates() {
    static TempDir folder;
    static TestCertificates certs;
    static std::once_flag once;
    std::call_once(once, [] {
        // A new CA name each time, so that a CA a crashed run left trusted never stands in for this one.
        char ca_name[64];
        std::snprintf(ca_name, sizeof ca_name, "Kest Test CA %lu-%lu", GetCurrentProcessId(), GetTickCount());
        write_file(folder / L"ca.cnf", std::string("[req]\ndistinguished_name = dn\nprompt = no\nx509_extensions = ext\n"
                                                   "[dn]\nCN = ") + ca_name + "\n"
                                       "[ext]\nbasicConstraints = critical, CA:TRUE\n"
                                       "keyUsage = critical, keyCertSign, cRLSign\nsubjectKeyIdentifier = hash\n");
        write_file(folder / L"server.ext",
                   "basicConstraints = critical, CA:FALSE\nkeyUsage = critical, digitalSignature, keyEncipherment\n"
                   "extendedKeyUsage = serverAuth\nsubjectAltName = DNS:localhost\n"
                   "subjectKeyIdentifier = hash\nauthorityKeyIdentifier = keyid\n");
        const std::string dir = unix_path(folder.path());
        if (dir.empty()) {
            certs.error = "cannot map the temp folder to a Unix path";
            return;
        }
        const std::string openssl = kOpenssl;
        const std::string script =
            "cd \"$1\" && { " + openssl + " genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -quiet -out ca.key && " +
            openssl + " req -x509 -new -key ca.key -sha256 -days 30 -config ca.cnf -out ca.crt && " + openssl +
            " genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -quiet -out server.key && " + openssl +
            " req -new -key server.key -subj /CN=localhost -out server.csr && " + openssl +
            " x509 -req -in server.csr -CA ca.crt -CAkey ca.key -set_serial " + std::to_string(GetTickCount()) +
            " -days 30 -sha256 -extfile server.ext -out server.crt; } >openssl.log 2>&1";
        long rc = run_unix_program({"/bin/sh", "-c", script, "sh", dir});
        if (rc != 0) {
            certs.error = "openssl failed (" + std::to_string(rc) + "): " + read_file(folder / L"openssl.log");
            return;
        }
        certs.ca_cert = folder / L"ca.crt";
        certs.server_cert = folder / L"server.crt";
        certs.server_key = folder / L"server.key";
        certs.ok = true;
    });
    return certs;
}

namespace {

const wchar_t* const kRootCertificatesKey = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";

PCCERT_CONTEXT load_pem_certificate(const std::wstring& path) {
    std::string pem = read_file(path);
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                             nullptr, &size, nullptr, nullptr))
        return nullptr;
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &size, nullptr, nullptr))
        return nullptr;
    return CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
}

std::atomic<bool> ca_trusted_once{false};

}  // namespace

bool TrustedTestCa::made_in_this_process() { return ca_trusted_once; }

TrustedTestCa::TrustedTestCa() {
    const TestCertificates& certs = test_certificates();
    if (!certs.ok) {
        error_ = "test certificates: " + certs.error;
        return;
    }
    PCCERT_CONTEXT cert = load_pem_certificate(certs.ca_cert);
    if (!cert) {
        error_ = "cannot read the test CA";
        return;
    }
    BYTE sha1[20];
    DWORD size = sizeof sha1;
    if (CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, sha1, &size)) {
        wchar_t hex[3];
        for (DWORD i = 0; i < size; ++i) {
            std::swprintf(hex, 3, L"%02X", sha1[i]);
            thumbprint_ += hex;
        }
    }
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (!root) {
        error_ = "cannot open the current user's Root store: " + std::to_string(GetLastError());
    } else {
        if (CertAddCertificateContextToStore(root, cert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
            ok_ = !thumbprint_.empty();
            ca_trusted_once = true;
        }
        else
            error_ = "CertAddCertificateContextToStore: " + std::to_string(GetLastError());
        CertCloseStore(root, 0);
    }
    CertFreeCertificateContext(cert);
}

TrustedTestCa::~TrustedTestCa() {
    if (!ok_) return;
    // The documented way first (what works on Windows), then the registry key Wine leaves behind.
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (PCCERT_CONTEXT cert = root ? load_pem_certificate(test_certificates().ca_cert) : nullptr) {
        if (PCCERT_CONTEXT found = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert, nullptr))
            CertDeleteCertificateFromStore(found);  // frees found
        CertFreeCertificateContext(cert);
    }
    if (root) CertCloseStore(root, 0);
    RegDeleteTreeW(HKEY_CURRENT_USER, (kRootCertificatesKey + thumbprint_).c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, (kRootCertificatesKey + thumbprint_).c_str());
}

}  // namespace kest_test
