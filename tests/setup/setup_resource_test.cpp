#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

TEST(SetupResources, CarriesTheBuiltLauncherAsRcdata201) {
    std::wstring setup = kest_test::exe_folder() + L"\\KestSetup.exe";
    HMODULE module = LoadLibraryExW(setup.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(201), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    ASSERT_NE(res, nullptr);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, res)));
    std::string embedded(bytes, SizeofResource(module, res));
    FreeLibrary(module);
    std::string launcher = kest_test::read_file(kest_test::exe_folder() + L"\\launcher.exe");
    ASSERT_FALSE(launcher.empty());
    EXPECT_TRUE(embedded == launcher) << "KestSetup carries a launcher other than the one built";
}

}  // namespace
