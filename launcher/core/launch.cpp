#include "launcher/core/launch.h"

#include "common/http_client.h"
#include "common/localization.h"
#include "deploy_config.h"
#include "launcher/patch/update_index.h"

#include <windows.h>
#include <bcrypt.h>

#include <chrono>
#include <memory>
#include <vector>

namespace kpatch {
namespace {

struct AlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE h) const noexcept { BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashCloser {
    void operator()(BCRYPT_HASH_HANDLE h) const noexcept { BCryptDestroyHash(h); }
};

}  // namespace

std::string hmac_sha256_hex(const std::uint8_t* key, std::size_t key_size, const std::string& data) {
    BCRYPT_ALG_HANDLE alg_raw = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&alg_raw, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                    BCRYPT_ALG_HANDLE_HMAC_FLAG)))
        return {};
    std::unique_ptr<void, AlgorithmCloser> alg(alg_raw);
    BCRYPT_HASH_HANDLE hash_raw = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(alg_raw, &hash_raw, nullptr, 0, const_cast<PUCHAR>(key),
                                         static_cast<ULONG>(key_size), 0)))
        return {};
    std::unique_ptr<void, HashCloser> hash(hash_raw);
    unsigned char mac[32];
    if (!BCRYPT_SUCCESS(BCryptHashData(hash_raw, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                       static_cast<ULONG>(data.size()), 0)) ||
        !BCRYPT_SUCCESS(BCryptFinishHash(hash_raw, mac, sizeof mac, 0)))
        return {};
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : mac) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
    }
    return out;
}

std::wstring make_launch_token(std::int64_t unix_seconds) {
    std::string t = std::to_string(unix_seconds);
    std::string h = hmac_sha256_hex(deploy::kLaunchTokenKey.data(), deploy::kLaunchTokenKey.size(), t);
    std::string token = t + "." + h;
    return std::wstring(token.begin(), token.end());
}

std::wstring make_launch_token() {
    using namespace std::chrono;
    return make_launch_token(duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
}

bool launch_game(const std::wstring& executable, const std::wstring& folder) {
    SetEnvironmentVariableW(kLaunchTokenVariable, make_launch_token().c_str());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring command = folder.empty() ? executable : L"\"" + executable + L"\"";
    BOOL ok = CreateProcessW(folder.empty() ? nullptr : executable.c_str(), command.data(), nullptr, nullptr, FALSE,
                             0, nullptr, folder.empty() ? nullptr : folder.c_str(), &si, &pi);
    if (!ok) return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

bool is_index_current(ProcessState& state, IPatcherUI* ui, const Target& target) {
    std::string applied;
    {
        std::lock_guard lock(state.applied_mutex);
        applied = target.legacy ? state.applied_index_v1 : state.applied_index_v2;
    }
    if (applied.empty()) return false;
    ui->set_busy(true);
    ui->set_status_text(ui_text(11));
    std::string published;
    return fetch_index(target.index_path, published, nullptr, nullptr, ui) == FetchOk && published == applied;
}

void probe_v2_build(IPatcherUI* ui) {
    std::string body;
    std::wstring error;
    if (http_get_buffer(build_label_url(patch_base_url()), body, &error, kBuildLabelMaxBytes))
        ui->set_alpha_state(1, parse_build_label(body));
    else
        ui->set_alpha_state(error == L"http status 404" ? 2 : 1, L"");
}

}  // namespace kpatch
