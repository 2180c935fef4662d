#include "launcher/core/command_line.h"

#include <windows.h>
#include <shellapi.h>

namespace kpatch {

bool repair_requested(const std::vector<std::wstring>& args) {
    for (size_t i = 1; i < args.size(); ++i)
        if (CompareStringOrdinal(args[i].c_str(), -1, L"--repair", -1, TRUE) == CSTR_EQUAL) return true;
    return false;
}

std::vector<std::wstring> split_command_line(const wchar_t* command_line) {
    std::vector<std::wstring> out;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(command_line, &count);
    if (!argv) return out;
    for (int i = 0; i < count; ++i) out.emplace_back(argv[i]);
    LocalFree(argv);
    return out;
}

}  // namespace kpatch
