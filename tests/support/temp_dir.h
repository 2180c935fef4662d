// A fresh folder per test under the Windows temp folder, removed with everything in it.
#pragma once

#include <string>

namespace kest_test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

void remove_tree(const std::wstring& path);

}  // namespace kest_test
