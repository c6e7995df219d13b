// The Windows platform against wine's implementation of the calls it makes.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
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

TEST_F(Win32Platform, DeviceNamesAndNamesWindowsWouldCutAreReserved) {
  for (const char* path :
       {"NUL.sql", "D:/bak/nul.sql", "D:\\bak\\COM1.sql", "lpt9.tar.gz", "D:/CON/shop.sql",
        "D:/bak./shop.sql", "D:/bak/shop.sql ", "AUX .sql", "\\\\server\\share\\PRN.sql"}) {
    std::string name;
    EXPECT_TRUE(name_is_reserved(path, &name)) << path;
    EXPECT_FALSE(name.empty()) << path;
  }
  for (const char* path :
       {"D:/bak/shop.sql", "D:/bak/console.sql", "D:/bak/COM10.sql", "D:/bak/nullable.sql",
        "\\\\CON\\share\\shop.sql", "./shop.sql", "../bak/shop.sql", "\\\\?\\D:\\bak\\NUL.sql"})
    EXPECT_FALSE(name_is_reserved(path, nullptr)) << path;
}

TEST_F(Win32Platform, ATypedCharacterTheEncodingLacksIsRefusedNotReplaced) {
  if (program_code_page() == CP_UTF8) GTEST_SKIP() << "UTF-8 holds every character";
  std::string typed = typed_text(L"\u5907\u4efd", 2);
  EXPECT_EQ(typed, "\xb1\xb8\xb7\xdd") << "备份, exactly as typed";
  os_error error;
  for (const wchar_t* lacked : {L"Contrase\u00f1a", L"Gr\u00f6\u00dfe", L"\U0002000B"}) {
    typed = typed_text(lacked, std::wcslen(lacked));
    EXPECT_EQ(typed.find('?'), std::string::npos);
    EXPECT_FALSE(text_is_usable(typed, &error));
    EXPECT_EQ(error.kind, error_kind::unrepresentable);
  }
  EXPECT_EQ(typed_text(L"Contrase\u00f1a", 10),
            "Contrase\xff"
            "a");
}

TEST_F(Win32Platform, APathPastMaxPathIsWrittenAndReplaced) {
  // Folders made and removed in the long form: the C++ library's own calls
  // stop at MAX_PATH.
  std::vector<std::string> folders{dir_.path.string()};
  while (folders.back().size() < MAX_PATH + 20) {
    folders.push_back(folders.back() + "\\a-folder-name-of-some-length");
    ASSERT_TRUE(CreateDirectoryW(to_wide_path(folders.back()).c_str(), nullptr));
  }
  std::wstring wide;
  ASSERT_TRUE(to_wide_path(folders.back(), &wide));
  EXPECT_EQ(wide.rfind(L"\\\\?\\", 0), 0u) << "the long form";
  const std::string dump = folders.back() + "\\db.sql";
  temp_file file;
  os_error error;
  for (const char* content : {"old", "new"}) {
    ASSERT_TRUE(create_temp_file(dump + ".part", &file, &error)) << error_text(error);
    DWORD written = 0;
    WriteFile(raw(file.handle), content, 3, &written, nullptr);
    EXPECT_TRUE(put_in_place(&file, dump, &error)) << error_text(error);
  }
  scoped_handle in = owned(CreateFileW(to_wide_path(dump).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
  char read[4] = "";
  DWORD size = 0;
  EXPECT_TRUE(ReadFile(raw(in), read, 3, &size, nullptr) && std::string(read, size) == "new");
  in.reset();
  DeleteFileW(to_wide_path(dump).c_str());
  for (std::size_t i = folders.size() - 1; i > 0; --i)
    RemoveDirectoryW(to_wide_path(folders[i]).c_str());
}

TEST_F(Win32Platform, TextThatIsNoGbkFailsBeforeAnythingRuns) {
  EXPECT_TRUE(text_is_usable("\xb1\xb8\xb7\xdd", nullptr)) << "备份 in GBK";
  EXPECT_FALSE(text_is_usable("\xb1", nullptr)) << "half a character";
  EXPECT_FALSE(text_is_usable(std::string("a\0b", 3), nullptr));
}

}  // namespace
