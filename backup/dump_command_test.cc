#include "backup/dump_command.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/fake_env.h"

namespace {

backup_settings example_settings() {
  backup_settings s;
  s.server_address = "127.0.0.1";
  s.db_user = "root";
  s.db_password = "Secret_1";
  s.db_name = "shop";
  s.save_dir = "/var/bak/";
  s.save_file_name = "test";
  return s;
}

using arguments = std::vector<std::string>;

TEST(DumpCommand, GivesEachValueAsOneArgumentAndThePasswordInTheOptionFileAlone) {
  backup_settings s = example_settings();
  dump_command command = build_dump_command(s);
  EXPECT_EQ(command.arguments, (arguments{"mysqldump", "-h127.0.0.1", "-uroot", "shop"}));
  EXPECT_EQ(command.option_file, "[client]\npassword=\"Secret_1\"\n");
  s.db_password = "changed";
  EXPECT_EQ(command.option_file, "[client]\npassword=\"Secret_1\"\n");

  dump_command empty = build_dump_command(backup_settings{});
  EXPECT_EQ(empty.arguments, (arguments{"mysqldump", "-h", "-u", ""}));
  EXPECT_EQ(empty.option_file, "[client]\npassword=\"\"\n") << "an empty password, no prompt";

  s.save_dir = "/var/bak";
  EXPECT_EQ(dump_file_path(s), "/var/baktest.sql");
  EXPECT_EQ(temp_file_path(dump_file_path(s)), "/var/baktest.sql.part");
}

TEST(DumpCommand, EveryByteOfThePasswordIsReadBackAsTyped) {
  // Quoted, "#" and ";" start no comment and "=" no value; escaped, a
  // backslash and a double quote stand for themselves (both families' rules).
  EXPECT_EQ(option_file_with_password("#;'\"\\=$!-x\xd6\xd0\\"),
            "[client]\npassword=\"#;'\\\"\\\\=$!-x\xd6\xd0\\\\\"\n");
}

TEST(DumpCommand, ANameLikeAnOptionComesAfterTwoHyphens) {
  backup_settings s = example_settings();
  s.db_name = "--help";
  EXPECT_EQ(build_dump_command(s).arguments,
            (arguments{"mysqldump", "-h127.0.0.1", "-uroot", "--", "--help"}));
  EXPECT_EQ(build_check_command(s).arguments,
            (arguments{"mysqldump", "-h127.0.0.1", "-uroot", "--no-data", "--skip-lock-all-tables",
                       "--skip-flush-logs", "--skip-flush-privileges", "--master-data=0",
                       "--dump-slave=0", "--skip-delete-master-logs", "--skip-lock-tables", "--",
                       "--help"}));
  s.db_name = "shop";
  const arguments lock_check = build_lock_check_command(s, {}, "-t").arguments;
  EXPECT_EQ(arguments(lock_check.end() - 4, lock_check.end()),
            (arguments{"--skip-delete-master-logs", "--", "shop", "-t"}))
      << "the dump's own table locks";
}

TEST(DumpCommand, AKnownToolGetsItsOwnOptionsBeforeTheNames) {
  backup_settings s = example_settings();
  const dump_tool mysql{"/opt/mysql/bin/mysqldump", {tool_family::mysql, 8, 4, 3}};
  EXPECT_EQ(build_dump_command(s, mysql).arguments,
            (arguments{"/opt/mysql/bin/mysqldump", "-h127.0.0.1", "-uroot", "--no-tablespaces",
                       "--set-gtid-purged=OFF", "--column-statistics=0", "shop"}));
  EXPECT_EQ(build_version_command(mysql).arguments,
            (arguments{"/opt/mysql/bin/mysqldump", "--no-defaults", "--version"}));
  EXPECT_EQ(build_version_command(mysql).option_file, "");
}

TEST(DumpCommand, MariadbDumpIsStartedWhereItStandsBesideMysqldump) {
  struct {
    std::vector<std::string> programs;  // what can be found, by name or path
    std::string started;
  } cases[] = {
      {{"/usr/bin/mysqldump", "/usr/bin/mariadb-dump"}, "/usr/bin/mariadb-dump"},
      {{"/opt/mysql/mysqldump", "/usr/bin/mariadb-dump"}, "/opt/mysql/mysqldump"},
      {{"/usr/bin/mariadb-dump"}, "/usr/bin/mariadb-dump"},
      {{"/opt/mysql/mysqldump"}, "/opt/mysql/mysqldump"},
      {{}, "mysqldump"},
  };
  for (const auto& [programs, started] : cases) {
    struct : fake_env {
      std::vector<std::string> programs;
      std::string find_program(const std::string& name) override {
        for (const std::string& program : programs)
          if (program == name || program.substr(program.rfind('/') + 1) == name) return program;
        return "";
      }
    } env;
    env.programs = programs;
    EXPECT_EQ(dump_tool_to_start(env), started) << programs.size();
  }
}

}  // namespace
