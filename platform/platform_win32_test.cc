// The Windows platform against wine's implementation of the calls it makes.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/platform.h"
#include "platform/win32_common.h"
#include "tests/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class Win32Platform : public ::testing::Test {
 protected:
  // Claims `path`'s temporary file and writes `text` into it.
  temp_file claim_with(const std::string& text) {
    temp_file file;
    os_error error;
    EXPECT_TRUE(create_temp_file(temp_, &file, &error)) << error_text(error);
    DWORD written = 0;
    WriteFile(reinterpret_cast<HANDLE>(file.handle.get()), text.data(),
              static_cast<DWORD>(text.size()), &written, nullptr);
    return file;
  }

  temp_dir dir_;
  const std::string dump_ = (dir_.path / "db.sql").string();
  const std::string temp_ = dump_ + ".part";
};

TEST_F(Win32Platform, AReadOnlyDumpIsReplacedAndStaysReadOnly) {
  std::ofstream(dump_) << "old";
  SetFileAttributesW(to_wide(dump_).c_str(), FILE_ATTRIBUTE_READONLY);
  temp_file file = claim_with("new");
  EXPECT_TRUE(put_in_place(&file, dump_, nullptr));
  EXPECT_EQ(contents(dump_), "new");
  EXPECT_TRUE(GetFileAttributesW(to_wide(dump_).c_str()) & FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW(to_wide(dump_).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Win32Platform, TheToolIsFoundInTheCurrentFolderBeforePath) {
  fs::create_directories(dir_.path / "on_path");
  fs::create_directories(dir_.path / "current");
  std::ofstream(dir_.path / "on_path/mysqldump.exe") << "";
  std::ofstream(dir_.path / "current/mysqldump.exe") << "";
  fs::path was = fs::current_path();
  fs::current_path(dir_.path / "current");
  SetEnvironmentVariableW(L"PATH", (dir_.path / "on_path").wstring().c_str());
  std::string found = find_program("mysqldump");
  SetEnvironmentVariableW(L"NoDefaultCurrentDirectoryInExePath", L"1");
  std::string without_current = find_program("mysqldump");
  SetEnvironmentVariableW(L"NoDefaultCurrentDirectoryInExePath", nullptr);
  fs::current_path(was);
  EXPECT_EQ(fs::path(found), fs::path(dir_.path / "current/mysqldump.exe"));
  EXPECT_EQ(fs::path(without_current), fs::path(dir_.path / "on_path/mysqldump.exe"));
}

TEST_F(Win32Platform, TheToolInheritsItsStandardHandlesAlone) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  fs::path stand_in = fs::path(self).parent_path() / "stand-in";
  ASSERT_TRUE(fs::exists(stand_in / "mysqldump.exe")) << stand_in;
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE secret = CreateFileW((dir_.path / "inherit-probe").wstring().c_str(), GENERIC_WRITE, 0,
                              &inheritable, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  std::wstring path(GetEnvironmentVariableW(L"PATH", nullptr, 0), L'\0');
  path.resize(GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size())));
  SetEnvironmentVariableW(L"PATH", stand_in.wstring().c_str());
  SetEnvironmentVariableW(L"FAKE_DUMP_HANDLE",
                          std::to_wstring(reinterpret_cast<uintptr_t>(secret)).c_str());
  temp_file file = claim_with("");
  hold_ending_signals();
  program_ptr tool;
  int status = -1;
  EXPECT_TRUE(start_program({"mysqldump"}, file.handle, &tool, nullptr));
  EXPECT_TRUE(tool && wait_for_program(*tool, 60'000, &status));
  release_ending_signals();
  SetEnvironmentVariableW(L"PATH", path.c_str());
  SetEnvironmentVariableW(L"FAKE_DUMP_HANDLE", nullptr);
  CloseHandle(secret);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(put_in_place(&file, dump_, nullptr));
  EXPECT_EQ(contents(dump_), "") << "the tool got a handle it was not given";
}

TEST_F(Win32Platform, TextThatIsNoGbkFailsBeforeAnythingRuns) {
  EXPECT_TRUE(text_is_usable("\xb1\xb8\xb7\xdd", nullptr)) << "备份 in GBK";
  EXPECT_FALSE(text_is_usable("\xb1", nullptr)) << "half a character";
  EXPECT_FALSE(text_is_usable(std::string("a\0b", 3), nullptr));
}

}  // namespace
