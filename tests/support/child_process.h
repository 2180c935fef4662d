// A child process started by a test; killed and reaped when the object goes, so a failing
// test leaves nothing running.
#pragma once

#include "common/unique_handle.h"

#include <string>
#include <vector>

namespace kest_test {

class ChildProcess {
public:
    // exe: full path; args are quoted for CommandLineToArgvW. Empty folder = ours.
    ChildProcess(const std::wstring& exe, const std::vector<std::wstring>& args, const std::wstring& folder = L"");
    ~ChildProcess();
    ChildProcess(ChildProcess&&) = default;

    bool started() const { return static_cast<bool>(process_); }
    DWORD id() const { return id_; }
    HANDLE handle() const { return process_.get(); }
    // Waits for the exit; returns the exit code, or -1 on time-out (the process keeps running).
    int wait(DWORD timeout_ms);
    void kill();

private:
    kpatch::unique_kernel_handle process_;
    DWORD id_ = 0;
};

// A process the test did not start itself (found by its id), killed when the object goes.
class AdoptedProcess {
public:
    explicit AdoptedProcess(DWORD pid);
    ~AdoptedProcess();
    int wait(DWORD timeout_ms);  // exit code, or -1 on time-out

private:
    kpatch::unique_kernel_handle process_;
};

std::wstring quote_argument(const std::wstring& arg);
std::wstring helper_exe();  // kest_test_helper.exe beside the test program

// Creates a named manual-reset event and waits until a child signals it.
class ReadySignal {
public:
    ReadySignal();
    const std::wstring& name() const { return name_; }
    bool wait(DWORD timeout_ms);

private:
    std::wstring name_;
    kpatch::unique_kernel_handle event_;
};

}  // namespace kest_test
