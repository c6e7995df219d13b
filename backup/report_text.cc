#include "backup/report_text.h"

#include <cstdio>
#include <ctime>

#include "backup/cadence.h"

std::string elapsed_text(int64_t milliseconds, text_encoding encoding) {
  auto part = [encoding](int64_t count, text_id unit) {
    return std::to_string(count) + std::string(text(unit, encoding));
  };
  int64_t seconds = milliseconds / second_ms;
  std::string shown;
  if (seconds >= 3600) shown += part(seconds / 3600, text_id::unit_hours);
  if (seconds >= 60) shown += part(seconds / 60 % 60, text_id::unit_minutes);
  return shown + part(seconds % 60, text_id::unit_seconds);
}

std::string size_text(int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  int unit = 0;
  double scale = 1024;
  // The unit is chosen after rounding, so that 1048575 bytes read "1.0 MB".
  while (unit < 3 && bytes / scale >= 1023.95) {
    ++unit;
    scale *= 1024;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", bytes / scale, kUnits[unit]);
  return text;
}

std::string exit_status_text(int status) {
  const auto code = static_cast<uint32_t>(status);
  if (code < 0x80000000u) return std::to_string(status);
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

std::string local_time_text(int64_t unix_seconds) {
  std::time_t time = static_cast<std::time_t>(unix_seconds);
  const std::tm* local = std::localtime(&time);
  char text[32] = "";
  if (local) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
  return text;
}
