#include "backup/tool_version.h"

#include <gtest/gtest.h>

namespace {

TEST(ToolVersion, EachFamilysAnswerIsRead) {
  struct {
    const char* answer;
    tool_family family;
    int major, minor, patch;
  } const answers[] = {
      {"mysqldump  Ver 8.0.36 for Linux on x86_64 (MySQL Community Server - GPL)\n",
       tool_family::mysql, 8, 0, 36},
      {"mysqldump.exe  Ver 9.1.0 for Win64 on x86_64 (MySQL Community Server - GPL)\r\n",
       tool_family::mysql, 9, 1, 0},
      {"mysqldump  Ver 10.13 Distrib 5.7.44, for Linux (x86_64)\n", tool_family::mysql, 5, 7, 44},
      {"mysqldump  Ver 8.0.35-27 for Linux on x86_64 (Percona Server (GPL), Release '27')\n",
       tool_family::mysql, 8, 0, 35},
      {"mysqldump  Ver 10.19 Distrib 10.11.6-MariaDB, for debian-linux-gnu (x86_64)\n",
       tool_family::mariadb, 10, 11, 6},
      {"mariadb-dump from 11.4.2-MariaDB, client 10.19 for Linux (x86_64)\n",
       tool_family::mariadb, 11, 4, 2},
      {"mysqldump  Ver 10.17 Distrib 10.3.39-MariaDB, for Win64 (AMD64)\r\n",
       tool_family::mariadb, 10, 3, 39},
  };
  for (const auto& expected : answers) {
    tool_version read = parse_tool_version(expected.answer);
    EXPECT_EQ(read.family, expected.family) << expected.answer;
    EXPECT_EQ(read.major, expected.major) << expected.answer;
    EXPECT_EQ(read.minor, expected.minor) << expected.answer;
    EXPECT_EQ(read.patch, expected.patch) << expected.answer;
  }
}

TEST(ToolVersion, AnAnswerThatCannotBeReadIsUnknownAndGetsNoOptionsOfAFamily) {
  for (const char* answer : {"", "mysqldump: unknown option '--no-defaults'",
                             "mysqldump  Ver 8.0 for Linux", "mysqldump  Ver 123456.0.1",
                             "Distrib -MariaDB", "garbage\xff\xfe"}) {
    tool_version read = parse_tool_version(answer);
    EXPECT_EQ(read.family, tool_family::unknown) << answer;
    EXPECT_TRUE(family_options(read).empty()) << answer;
  }
}

TEST(ToolVersion, EachToolGetsOnlyOptionsItTakesWithoutAWarning) {
  using options = std::vector<std::string>;
  auto mysql = [](int major, int minor, int patch) {
    return tool_version{tool_family::mysql, major, minor, patch};
  };
  const tool_version mariadb{tool_family::mariadb, 11, 8, 2};
  EXPECT_EQ(family_options(mysql(5, 7, 44)), (options{"--no-tablespaces", "--set-gtid-purged=OFF"}));
  EXPECT_EQ(family_options(mysql(8, 4, 3)),
            (options{"--no-tablespaces", "--set-gtid-purged=OFF", "--column-statistics=0"}));
  EXPECT_EQ(family_options(mariadb), options{"--no-tablespaces"});

  const options old_names = {"--master-data=0", "--dump-slave=0", "--skip-delete-master-logs"};
  const options new_names = {"--source-data=0", "--dump-replica=0", "--skip-delete-source-logs"};
  auto names_in = [](const options& all) { return options(all.end() - 3, all.end()); };
  EXPECT_EQ(names_in(quiet_options(mysql(8, 0, 25))), old_names);
  EXPECT_EQ(names_in(quiet_options(mysql(8, 0, 26))), new_names);
  EXPECT_EQ(names_in(quiet_options(mysql(9, 1, 0))), new_names);
  EXPECT_EQ(names_in(quiet_options(mariadb)), old_names);
  EXPECT_EQ(names_in(quiet_options({})), old_names);
}

}  // namespace
