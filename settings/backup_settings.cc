#include "settings/backup_settings.h"

void set_backup_interval(backup_settings& settings, int32_t days) {
  settings.interval_days = days;
  reload_countdown(settings);
}

void reload_countdown(backup_settings& settings) {
  settings.countdown_seconds = settings.interval_days * seconds_per_day;
}
