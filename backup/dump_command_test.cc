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

TEST(DumpCommand, JoinsThePiecesWithNothingBetween) {
  backup_settings s = example_settings();
  dump_command command = build_dump_command(s);
  EXPECT_EQ(command.shell_line,
            "exec mysqldump -h127.0.0.1 -uroot -pSecret_1 shop > /var/bak/test.sql.part");
  EXPECT_EQ(command.arguments,
            (std::vector<std::string>{"mysqldump", "-h127.0.0.1", "-uroot", "-pSecret_1", "shop"}));
  s.db_password = "changed";
  EXPECT_EQ(command.shell_line,
            "exec mysqldump -h127.0.0.1 -uroot -pSecret_1 shop > /var/bak/test.sql.part");

  EXPECT_EQ(build_dump_command(backup_settings{}).shell_line, "exec mysqldump -h -u -p  > .sql.part");

  s.save_dir = "/var/bak";
  EXPECT_EQ(dump_paths_for(s).dump_file, "/var/baktest.sql");
  EXPECT_EQ(dump_paths_for(s).temp_file, "/var/baktest.sql.part");
}

TEST(DumpCommand, ADatabaseNameLikeAnOptionComesAfterTwoHyphens) {
  backup_settings s = example_settings();
  s.db_name = "--help";
  dump_command command = build_dump_command(s);
  EXPECT_EQ(command.shell_line,
            "exec mysqldump -h127.0.0.1 -uroot -pSecret_1 -- --help > /var/bak/test.sql.part");
  EXPECT_EQ(command.arguments, (std::vector<std::string>{"mysqldump", "-h127.0.0.1", "-uroot",
                                                         "-pSecret_1", "--", "--help"}));
}

}  // namespace
