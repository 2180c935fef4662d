// Small file helpers for tests.
#pragma once

#include <string>
#include <vector>

namespace kest_test {

std::string read_file(const std::wstring& path);  // empty when missing
bool write_file(const std::wstring& path, const std::string& bytes);
bool file_exists(const std::wstring& path);
std::vector<std::wstring> list_folder(const std::wstring& folder);  // names, without . and ..
std::wstring exe_folder();  // the folder of the running test program (where the built programs lie)

}  // namespace kest_test
