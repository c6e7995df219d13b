#include "backup/dump_command.h"

#include <gtest/gtest.h>

#include <vector>

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

TEST(DumpCommand, GivesEachValueAsOneArgument) {
  backup_settings s = example_settings();
  dump_command command = build_dump_command(s);
  EXPECT_EQ(command.arguments,
            (std::vector<std::string>{"mysqldump", "-h127.0.0.1", "-uroot", "-pSecret_1", "shop"}));
  s.db_password = "changed";
  EXPECT_EQ(command.arguments[3], "-pSecret_1");

  EXPECT_EQ(build_dump_command(backup_settings{}).arguments,
            (std::vector<std::string>{"mysqldump", "-h", "-u", "-p", ""}));

  s.save_dir = "/var/bak";
  EXPECT_EQ(dump_file_path(s), "/var/baktest.sql");
  EXPECT_EQ(temp_file_path(dump_file_path(s)), "/var/baktest.sql.part");
}

TEST(DumpCommand, ADatabaseNameLikeAnOptionComesAfterTwoHyphens) {
  backup_settings s = example_settings();
  s.db_name = "--help";
  EXPECT_EQ(build_dump_command(s).arguments,
            (std::vector<std::string>{"mysqldump", "-h127.0.0.1", "-uroot", "-pSecret_1", "--",
                                      "--help"}));
  EXPECT_EQ(
      build_check_command(s).arguments,
      (std::vector<std::string>{"mysqldump", "-h127.0.0.1", "-uroot", "-pSecret_1", "--no-data",
                                "--skip-lock-tables", "--skip-lock-all-tables", "--skip-flush-logs",
                                "--skip-flush-privileges", "--master-data=0", "--dump-slave=0",
                                "--skip-delete-master-logs", "--", "--help"}));
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
    auto find = [&programs = programs](const std::string& name) -> std::string {
      for (const std::string& program : programs)
        if (program == name || program.substr(program.rfind('/') + 1) == name) return program;
      return "";
    };
    EXPECT_EQ(dump_tool_to_start(find), started) << programs.size();
  }
}

}  // namespace
