// How the backup runner writes durations, sizes and times in its lines.
#ifndef AUTODUMP_BACKUP_REPORT_TEXT_H_
#define AUTODUMP_BACKUP_REPORT_TEXT_H_

#include <cstdint>
#include <string>

#include "shell/texts.h"

// "S秒" below a minute, "M分S秒" below an hour, "H小时M分S秒" from an hour on,
// in whole seconds and without leading zeros.
std::string elapsed_text(int64_t milliseconds, text_encoding encoding);

// "N B" below 1024 bytes; otherwise one decimal in the largest of KB, MB, GB
// and TB (steps of 1024) that keeps the number at least 1, as "812.0 KB".
std::string size_text(int64_t bytes);

// A program's exit status as its system writes it: in decimal, or from
// 0x80000000 up (a Windows NTSTATUS such as 0xC0000005) in hexadecimal.
std::string exit_status_text(int status);

// "YYYY-MM-DD HH:MM:SS" of `unix_seconds` in the local time zone.
std::string local_time_text(int64_t unix_seconds);

#endif  // AUTODUMP_BACKUP_REPORT_TEXT_H_
