#include "settings/configure_database.h"

#include <string>

const settings_field settings_fields[6] = {
    {text_id::prompt_server_address, text_id::label_server_address,
     &backup_settings::server_address},
    {text_id::prompt_db_user, text_id::label_db_user, &backup_settings::db_user},
    {text_id::prompt_db_password, text_id::label_db_password, &backup_settings::db_password},
    {text_id::prompt_db_name, text_id::label_db_name, &backup_settings::db_name},
    {text_id::prompt_save_dir, text_id::label_save_dir, &backup_settings::save_dir},
    {text_id::prompt_save_file_name, text_id::label_save_file_name,
     &backup_settings::save_file_name},
};

read_status configure_database(console& con, backup_settings& settings) {
  for (const settings_field& f : settings_fields) {
    print_line(con, f.prompt);
    if (read_status status = read_word(con, &(settings.*f.value)); status != read_status::ok)
      return status;
  }
  print_line(con, text_id::settings_heading);
  for (const settings_field& f : settings_fields) {
    bool masked = f.value == &backup_settings::db_password && !con.shows_secrets;
    print_line(con, f.label,
               masked ? text(text_id::password_mask, con.encoding) : settings.*f.value);
  }
  return read_status::ok;
}
