// kest_demo_game.exe: a stand-in for the game client. It checks the launch token the
// launcher passed in KEST_LAUNCH_TOKEN with the compiled-in key, writes the verdict and its
// working folder to kest-game-result.txt there, and tells the player what it found.
// KEST_DEMO_GAME_EXIT=1 skips the message box (the tests run it that way).
// Exit code: 0 for a valid token, 1 otherwise.
#include "demo/game/launch_token.h"
#include "deploy_config.h"

#include <windows.h>

#include <string>

namespace {

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring current_folder() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(n, L'\0');
    n = GetCurrentDirectoryW(n, folder.data());
    folder.resize(n);
    return folder;
}

bool write_result(const std::string& line) {
    HANDLE file = CreateFileW(L"kest-game-result.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) && written == line.size();
    CloseHandle(file);
    return ok;
}

const wchar_t* advice(kest_game::TokenVerdict verdict) {
    using kest_game::TokenVerdict;
    switch (verdict) {
    case TokenVerdict::Valid: return L"The launcher started the game correctly.";
    case TokenVerdict::Missing: return L"No launch token was given. Start the game with Play in the launcher.";
    case TokenVerdict::Malformed: return L"The launch token is not in the expected form.";
    case TokenVerdict::BadSignature: return L"The launch token was not made with this game client's key.";
    case TokenVerdict::Expired: return L"The launch token is too old. Press Play in the launcher again.";
    case TokenVerdict::FromTheFuture: return L"The launch token lies in the future. Check the computer's clock.";
    }
    return L"";
}

bool exit_without_window() {
    wchar_t value[8];
    DWORD n = GetEnvironmentVariableW(L"KEST_DEMO_GAME_EXIT", value, 8);
    return n == 1 && value[0] == L'1';
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    auto verdict = kest_game::check_launch_token_from_environment(kpatch::deploy::kLaunchTokenKey);
    const char* text = kest_game::verdict_text(verdict);
    std::wstring folder = current_folder();
    write_result(std::string(text) + " " + utf8(folder) + "\r\n");

    if (!exit_without_window()) {
        std::wstring wide_text(text, text + strlen(text));
        std::wstring message = L"Kest demo game client \u2014 launch token " + wide_text + L"\n\n" + advice(verdict) +
                               L"\n\nWorking folder: " + folder;
        MessageBoxW(nullptr, message.c_str(), L"Kest demo game client",
                    MB_OK | (verdict == kest_game::TokenVerdict::Valid ? MB_ICONINFORMATION : MB_ICONWARNING));
    }
    return verdict == kest_game::TokenVerdict::Valid ? 0 : 1;
}
