// What is backed up, where the dump goes and how often. The program keeps one
// such record for its whole run; nothing of it is ever saved to disk.
#ifndef AUTODUMP_SETTINGS_BACKUP_SETTINGS_H_
#define AUTODUMP_SETTINGS_BACKUP_SETTINGS_H_

#include <cstdint>
#include <string>

constexpr int32_t seconds_per_day = 86400;
// The longest interval whose seconds still fit the countdown.
constexpr int32_t max_interval_days = INT32_MAX / seconds_per_day;

struct backup_settings {
  // Exactly the bytes the operator typed.
  std::string server_address;
  std::string db_user;
  std::string db_password;
  std::string db_name;
  std::string save_dir;        // typed with its trailing slash, but not checked for it
  std::string save_file_name;  // without ".sql"

  int32_t interval_days = 1;
  // Seconds left until the next backup: interval_days * 86400 until the
  // automatic backup starts, then what its last progress line showed.
  int32_t countdown_seconds = seconds_per_day;
};

// Sets the interval and restarts the countdown from it.
// Needs 1 <= days <= max_interval_days.
void set_backup_interval(backup_settings& settings, int32_t days);

#endif  // AUTODUMP_SETTINGS_BACKUP_SETTINGS_H_
