#include "shell/main_menu.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/stream_io.h"

namespace {

struct menu_run {
  std::string output;
  int status = -1;
  int backups_started = 0;
  backup_settings settings;
};

menu_run run_menu(const std::string& input, backup_settings settings = {}) {
  std::istringstream in(input);
  std::ostringstream out;
  stream_io io(in, out);
  console con{io, text_encoding::utf8, nullptr};
  menu_run run;
  run.settings = settings;
  run.status = run_main_menu(con, run.settings, [&] { ++run.backups_started; });
  run.output = out.str();
  return run;
}

TEST(MainMenu, TypedAheadAnswersConfigureAndStartTheBackup) {
  menu_run run = run_menu("1 host user p$w 库 D:/bak/ test\n4 7 2");
  EXPECT_EQ(run.backups_started, 1);
  EXPECT_EQ(run.settings.server_address, "host");
  EXPECT_EQ(run.settings.db_user, "user");
  EXPECT_EQ(run.settings.db_password, "p$w");
  EXPECT_EQ(run.settings.db_name, "库");
  EXPECT_EQ(run.settings.save_dir, "D:/bak/");
  EXPECT_EQ(run.settings.save_file_name, "test");
  EXPECT_EQ(run.settings.interval_days, 7);
  EXPECT_EQ(run.settings.countdown_seconds, 7 * 86400);
}

TEST(MainMenu, AByteOrderMarkBeforeTheFirstAnswerIsSkipped) {
  menu_run run = run_menu(
      "\xEF\xBB\xBF"
      "4\r\n2\r\n");
  EXPECT_EQ(run.settings.interval_days, 2);
  EXPECT_EQ(run.backups_started, 0);
}

TEST(MainMenu, RefusedIntervalsKeepTheOldOne) {
  backup_settings settings;
  set_backup_interval(settings, 3);
  menu_run run = run_menu("4 0 -1 abc 24856 2.5", settings);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.settings.interval_days, 3);
  EXPECT_EQ(run.settings.countdown_seconds, 3 * 86400);
  EXPECT_EQ(run.output.find("设置完毕"), std::string::npos);
}

TEST(MainMenu, InputEndingInsideTheSettingsDialogueKeepsWhatWasAnswered) {
  backup_settings settings;
  settings.db_name = "old";
  menu_run run = run_menu("1 new-host new-user", settings);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.settings.server_address, "new-host");
  EXPECT_EQ(run.settings.db_user, "new-user");
  EXPECT_EQ(run.settings.db_name, "old");
  EXPECT_EQ(run.output.find("当前数据库配置是："), std::string::npos);
}

}  // namespace
