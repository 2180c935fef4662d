// The launcher's command line: "--repair" (any letter case, as a whole argument after the
// program name) starts with a repair of every game file. Other arguments are ignored.
#pragma once

#include <string>
#include <vector>

namespace kpatch {

bool repair_requested(const std::vector<std::wstring>& args);  // args[0] is the program
std::vector<std::wstring> split_command_line(const wchar_t* command_line);  // CommandLineToArgvW

}  // namespace kpatch
