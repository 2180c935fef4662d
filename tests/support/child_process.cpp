#include "tests/support/child_process.h"

#include "tests/support/files.h"

#include <atomic>
#include <cstdio>

namespace kest_test {

std::wstring quote_argument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') out.append(backslashes * 2 + 1, L'\\');
        else out.append(backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

ChildProcess::ChildProcess(const std::wstring& exe, const std::vector<std::wstring>& args, const std::wstring& folder) {
    std::wstring cmd = quote_argument(exe);
    for (const auto& a : args) cmd += L" " + quote_argument(a);
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
        CloseHandle(pi.hThread);
        process_.reset(pi.hProcess);
        id_ = pi.dwProcessId;
    }
}

ChildProcess::~ChildProcess() { kill(); }

int ChildProcess::wait(DWORD timeout_ms) {
    if (!process_) return -1;
    if (WaitForSingleObject(process_.get(), timeout_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return static_cast<int>(code);
}

void ChildProcess::kill() {
    if (!process_) return;
    if (WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.get(), 99);
        WaitForSingleObject(process_.get(), 5000);
    }
}

AdoptedProcess::AdoptedProcess(DWORD pid)
    : process_(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {}

AdoptedProcess::~AdoptedProcess() {
    if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.get(), 99);
        WaitForSingleObject(process_.get(), 5000);
    }
}

int AdoptedProcess::wait(DWORD timeout_ms) {
    if (!process_ || WaitForSingleObject(process_.get(), timeout_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return static_cast<int>(code);
}

std::wstring helper_exe() { return exe_folder() + L"\\kest_test_helper.exe"; }

ReadySignal::ReadySignal() {
    static std::atomic<int> counter{0};
    wchar_t name[80];
    std::swprintf(name, 80, L"KestTest.Ready.%lu.%d", GetCurrentProcessId(), ++counter);
    name_ = name;
    event_.reset(CreateEventW(nullptr, TRUE, FALSE, name_.c_str()));
}

bool ReadySignal::wait(DWORD timeout_ms) { return WaitForSingleObject(event_.get(), timeout_ms) == WAIT_OBJECT_0; }

}  // namespace kest_test
