#include "settings/backup_settings.h"

#include <gtest/gtest.h>

namespace {

TEST(BackupSettings, StartsWithEmptyFieldsAndOneDay) {
  backup_settings s;
  for (const std::string* field :
       {&s.server_address, &s.db_user, &s.db_password, &s.db_name, &s.save_dir, &s.save_file_name})
    EXPECT_TRUE(field->empty());
  EXPECT_EQ(s.interval_days, 1);
  EXPECT_EQ(s.countdown_seconds, 86400);
}

TEST(BackupSettings, IntervalRestartsTheCountdown) {
  backup_settings s;
  set_backup_interval(s, 3);
  EXPECT_EQ(s.countdown_seconds, 3 * 86400);
  set_backup_interval(s, 1);
  EXPECT_EQ(s.countdown_seconds, 86400);
  set_backup_interval(s, max_interval_days);
  EXPECT_EQ(max_interval_days, 24855);
  EXPECT_EQ(s.countdown_seconds, 24855 * 86400);
}

}  // namespace
