// Every text that autodump prints, in one table, in the two encodings it can
// write: UTF-8 and GBK (code page 936).
#ifndef AUTODUMP_SHELL_TEXTS_H_
#define AUTODUMP_SHELL_TEXTS_H_

#include <string_view>

enum class text_encoding { utf8, gbk };

// How much a line matters, as syslog ranks it: a journal keeps what the unit
// allows, and `journalctl -p err` lists the failures.
enum class line_level { error = 3, warning = 4, info = 6, debug = 7 };

enum class text_id {
  menu_title,
  menu_item_1,
  menu_item_2,
  menu_item_3,
  menu_item_4,
  menu_prompt,
  interval_question,
  interval_done,
  interval_refused,
  interval_refused_end,
  input_ended,
  input_too_long,
  prompt_server_address,
  prompt_db_user,
  prompt_db_password,
  prompt_db_name,
  prompt_save_dir,
  prompt_save_file_name,
  settings_heading,
  label_server_address,
  label_db_user,
  label_db_password,
  label_db_name,
  label_save_dir,
  label_save_file_name,
  label_colon,
  password_mask,
  progress_label,
  backup_started,
  backup_done,
  backup_done_in_dir,
  backup_failed,
  backup_not_saved,
  backup_busy,
  backup_overran,
  backup_interrupted,
  backup_waiting_for_holder,
  rights_not_kept,
  foreign_dump_file,
  reserved_name_reason,
  forbidden_name_reason,
  dump_progress,
  dump_progress_written,
  dump_took,
  dump_took_size,
  next_backup_at,
  last_backup_at,
  unit_seconds,
  unit_minutes,
  unit_hours,
  warning_no_database,
  warning_directory_unusable,
  warning_dump_file_is_directory,
  warning_untrusted_link,
  warning_reserved_name,
  warning_forbidden_name,
  warning_no_trailing_slash,
  warning_no_dump_tool,
  warning_no_dump_tool_end,
  warning_too_long,
  warning_unusable_value,
  warning_unrepresentable,
  warning_connection_failed,
  count
};

// The bytes of `id` in `encoding`.
std::string_view text(text_id id, text_encoding encoding);

// The level of a line that begins with `first`: failed backups and an end of
// the answers before the backup are errors, warnings warnings, the countdown
// and a dump's progress debug, the rest information.
line_level level_of(text_id first);

// GBK for a locale whose character set is GBK or one of its relatives,
// UTF-8 for every other (and for an unknown one).
text_encoding encoding_for_codeset(std::string_view codeset);

#endif  // AUTODUMP_SHELL_TEXTS_H_
