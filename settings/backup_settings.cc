#include "settings/backup_settings.h"

void set_backup_interval(backup_settings& settings, int32_t days) {
  settings.interval_days = days;
  settings.countdown_seconds = days * seconds_per_day;
}
