// md5_file_check FILE EXPECTED: exit 0 when file_md5_hex(FILE) equals EXPECTED.
#include "launcher/patch/local_diff.h"

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    std::string hash = kpatch::file_md5_hex(argv[1]);
    std::wstring expected = argv[2];
    std::printf("file_md5_hex: %s\n", hash.c_str());
    return std::wstring(hash.begin(), hash.end()) == expected ? 0 : 1;
}
