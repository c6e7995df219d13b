// The Windows platform against wine's implementation of the calls it makes.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/by_handle_win32.h"
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

// Opens `path` as a scanner does: for reading, sharing everything.
HANDLE open_as_scanner(const std::string& path) {
  return CreateFileW(to_wide(path).c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

TEST_F(Win32Platform, ALeftoverAScannerStillHoldsLeavesItsNameFreeAtOnce) {
  std::ofstream(temp_) << "left by a shutdown";
  HANDLE scanner = open_as_scanner(temp_);
  ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
  os_error error;
  EXPECT_TRUE(remove_leftover(temp_, &error)) << error_text(error);
  temp_file file;
  EXPECT_TRUE(create_temp_file(temp_, &file, &error)) << error_text(error);
  discard_temp_file(&file);
  CloseHandle(scanner);
  EXPECT_TRUE(fs::is_empty(dir_.path)) << "a file was left once the scanner let go";
}

TEST_F(Win32Platform, ANameStillBeingDeletedIsHeldNotRefused) {
  std::ofstream(temp_) << "marked for deletion by another program";
  HANDLE scanner = open_as_scanner(temp_);
  ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(DeleteFileW(to_wide(temp_).c_str()));
  // As the dump job claims: Windows refuses the name (access denied), which
  // is held; wine says it exists, lets the leftover be renamed aside, and the
  // name is free. Never a refusal that ends the backup.
  temp_file file;
  os_error error;
  bool claimed = create_temp_file(temp_, &file, &error);
  if (!claimed && error.kind == error_kind::exists && remove_leftover(temp_, &error))
    claimed = create_temp_file(temp_, &file, &error);
  if (!claimed) {
    EXPECT_EQ(error.kind, error_kind::busy) << error_text(error);
  }
  CloseHandle(scanner);
  if (!claimed) {
    EXPECT_TRUE(create_temp_file(temp_, &file, &error)) << error_text(error);
  }
  discard_temp_file(&file);
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

TEST(Win32Names, CharactersWindowsForbidsAreRefusedOutsideDrivesPrefixesAndShares) {
  struct {
    const char* path;
    const char* name;
  } refused[] = {
      {"D:/bak/db?daily.sql", "db?daily.sql"},
      {"D:\\bak\\a|b.sql", "a|b.sql"},
      {"D:\\bak\\x:y.sql", "x:y.sql"},
      {"D:\\bak\\nul:.sql", "nul:.sql"},
      {"D:\\b<a>k\\shop.sql", "b<a>k"},
      {"D:/bak/\"quoted\".sql", "\"quoted\".sql"},
      {"D:/bak/star*.sql", "star*.sql"},
      {"D:/bak/tab\t.sql", "tab\t.sql"},
      {"\\\\?\\D:\\bak\\db?daily.sql", "db?daily.sql"},
  };
  for (const auto& [path, name] : refused) {
    std::string found;
    EXPECT_TRUE(name_has_forbidden_characters(path, &found)) << path;
    EXPECT_EQ(found, name) << path;
  }
  for (const char* path :
       {"D:/bak/shop.sql", "D:\\bak\\shop.sql", "d:shop.sql", "\\\\?\\D:\\bak\\shop.sql",
        "\\\\?\\UNC\\server\\share\\shop.sql", "\\\\server\\share\\shop.sql",
        "//server/share/shop.sql", "\\\\.\\D:\\bak\\shop.sql", "../bak/shop.sql"})
    EXPECT_FALSE(name_has_forbidden_characters(path, nullptr)) << path;
}

// Reparse data of a symbolic link whose print name differs from its
// substitute name, as a link made by hand can have it.
std::vector<BYTE> link_data(const std::wstring& substitute, const std::wstring& print,
                            bool relative) {
  std::vector<BYTE> data(20 + (substitute.size() + print.size()) * 2);
  auto put16 = [&](std::size_t at, std::size_t value) {
    data[at] = static_cast<BYTE>(value);
    data[at + 1] = static_cast<BYTE>(value >> 8);
  };
  DWORD tag = IO_REPARSE_TAG_SYMLINK, flags = relative ? 1 : 0;
  std::memcpy(&data[0], &tag, 4);
  put16(4, data.size() - 8);
  put16(8, 0);
  put16(10, substitute.size() * 2);
  put16(12, substitute.size() * 2);
  put16(14, print.size() * 2);
  std::memcpy(&data[16], &flags, 4);
  std::memcpy(&data[20], substitute.data(), substitute.size() * 2);
  std::memcpy(&data[20 + substitute.size() * 2], print.data(), print.size() * 2);
  return data;
}

TEST(Win32Links, TheSubstituteNameIsFollowedAndARootedOneStandsOnTheLinksDrive) {
  struct {
    const wchar_t* link;
    const wchar_t* substitute;
    bool relative;
    const wchar_t* target;
  } cases[] = {
      {L"D:\\links\\l.sql", L"\\??\\E:\\real\\x.sql", false, L"\\\\?\\E:\\real\\x.sql"},
      {L"D:\\links\\l.sql", L"\\??\\UNC\\srv\\share\\x.sql", false,
       L"\\\\?\\UNC\\srv\\share\\x.sql"},
      {L"D:\\links\\l.sql", L"..\\bak\\x.sql", true, L"D:\\links\\..\\bak\\x.sql"},
      {L"D:\\links\\l.sql", L"\\bak\\x.sql", true, L"D:\\bak\\x.sql"},
      {L"\\\\?\\D:\\links\\l.sql", L"\\bak\\x.sql", true, L"\\\\?\\D:\\bak\\x.sql"},
      {L"\\\\srv\\share\\links\\l.sql", L"\\bak\\x.sql", true, L"\\\\srv\\share\\bak\\x.sql"},
      {L"\\\\?\\UNC\\srv\\share\\l.sql", L"\\bak\\x.sql", true,
       L"\\\\?\\UNC\\srv\\share\\bak\\x.sql"},
  };
  for (const auto& [link, substitute, relative, target] : cases) {
    std::vector<BYTE> data = link_data(substitute, L"C:\\shown\\elsewhere.sql", relative);
    EXPECT_EQ(symbolic_link_target(link, data.data(), static_cast<DWORD>(data.size())),
              std::wstring(target))
        << from_wide(substitute);
  }
  std::vector<BYTE> cut = link_data(L"\\??\\E:\\x.sql", L"", false);
  EXPECT_EQ(symbolic_link_target(L"D:\\l.sql", cut.data(), 24), L"") << "names past the data";
}

TEST(Win32RenameByHandle, TheRenameInfoIsLaidOutAsWindowsReadsIt) {
  const std::wstring target = L"\\\\?\\D:\\bak\\shop.sql";
  std::vector<BYTE> buffer =
      rename_info_for(target, kRenameReplaceIfExists | kRenamePosixSemantics);
  EXPECT_EQ(offsetof(file_rename_info, root_directory), offsetof(FILE_RENAME_INFO, RootDirectory));
  EXPECT_EQ(offsetof(file_rename_info, name_bytes), offsetof(FILE_RENAME_INFO, FileNameLength));
  EXPECT_EQ(offsetof(file_rename_info, name), offsetof(FILE_RENAME_INFO, FileName));
  const auto* info = reinterpret_cast<const file_rename_info*>(buffer.data());
  EXPECT_EQ(info->flags, 3u)
      << "FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS";
  EXPECT_EQ(info->root_directory, nullptr);
  EXPECT_EQ(info->name_bytes, target.size() * sizeof(WCHAR)) << "without the terminating NUL";
  EXPECT_EQ(std::wstring(info->name), target);
  EXPECT_GE(buffer.size(), offsetof(file_rename_info, name) + info->name_bytes + sizeof(WCHAR));
}

TEST(Win32RenameByHandle, OnlyACallNotOfferedFallsBackToTheOlderOne) {
  for (DWORD code :
       {ERROR_SUCCESS, ERROR_INVALID_PARAMETER, ERROR_NOT_SUPPORTED, ERROR_INVALID_FUNCTION,
        ERROR_CALL_NOT_IMPLEMENTED, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}) {
    bool older_tried = false;
    DWORD result = 0;
    bool done = newer_or_older(
        [&](DWORD* failed) {
          *failed = code;
          return code == ERROR_SUCCESS;
        },
        [&](DWORD*) { return older_tried = true; }, &result);
    const bool falls_back =
        code != ERROR_SUCCESS && code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION;
    EXPECT_EQ(older_tried, falls_back) << code;
    EXPECT_EQ(done, code == ERROR_SUCCESS || falls_back) << code;
    if (!falls_back && code != ERROR_SUCCESS) {
      EXPECT_EQ(result, code) << "the newer call's reason";
    }
  }
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
