#include "backup/shell_quote.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "backup/dump_command.h"
#include "tests/temp_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(ShellQuote, LeavesOrdinaryValuesAsTyped) {
  for (const char* value : {"", "D:/bak/", "user@host", "a-b_c.d+e=f,g%h:i", "数据库", "\xd6\xd0"})
    EXPECT_EQ(shell_quote(value), value);
  EXPECT_EQ(shell_quote("it's"), "'it'\\''s'");
  EXPECT_EQ(shell_quote("$x"), "'$x'");
}

// The values an attacker or an unlucky password would hold.
const char* const kAwkwardValues[] = {
    "p$ss&w!rd", "'",        "''",     "\"q\"",     "`id`",      "$(touch${IFS}pwned)",
    "a;b",       "a|b",      "a&&b",   "<in",       ">out",      "*",
    "~root",     "#comment", "\\n\\",  "x\x01\x7fy", "!!",       "{a,b}",
    "a'\"'b",    "中'文$",   "-p",     "%PATH%",    "[ab]",      "a?",
};

class DumpCommandThroughShell : public ::testing::Test {
 protected:
  void SetUp() override {
    // Stands in for mysqldump: writes each argument it gets, ended by a NUL.
    std::ofstream(dir_ / "mysqldump") << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\000' \"$a\"; done\n";
    fs::permissions(dir_ / "mysqldump", fs::perms::owner_all);
  }
  // Runs the dump command of `s` with the stand-in, and returns what it got.
  std::vector<std::string> arguments_received(const backup_settings& s) {
    dump_command command = build_dump_command(s);
    command.shell_line = "PATH=" + shell_quote(dir_.string()) + ":\"$PATH\"; cd " +
                         shell_quote(dir_.string()) + " && " + command.shell_line;
    hold_ending_signals();
    EXPECT_EQ(run_dump_tool(command, temp_file{}), 0);
    release_ending_signals();
    std::ifstream dump(dir_ / dump_paths_for(s).temp_file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(dump)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    for (std::string::size_type start = 0, end; (end = bytes.find('\0', start)) != bytes.npos;
         start = end + 1)
      args.push_back(bytes.substr(start, end - start));
    return args;
  }

  temp_dir temp_;
  const fs::path& dir_ = temp_.path;
};

TEST_F(DumpCommandThroughShell, EveryValueReachesTheDumpToolAsTyped) {
  for (const char* value : kAwkwardValues) {
    backup_settings s;
    s.server_address = s.db_user = s.db_password = s.db_name = s.save_file_name = value;
    std::vector<std::string> expected = {std::string("-h") + value, std::string("-u") + value,
                                         std::string("-p") + value, value};
    if (value[0] == '-') expected.insert(expected.end() - 1, "--");
    EXPECT_EQ(arguments_received(s), expected) << value;
    EXPECT_TRUE(fs::exists(dir_ / (std::string(value) + ".sql.part"))) << value;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2)
        << "something besides the dump was created for " << value;
    fs::remove(dir_ / (std::string(value) + ".sql.part"));
  }
}

}  // namespace
