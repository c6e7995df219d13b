// The dialogue of menu item 1: the connection details and where the dump goes.
#ifndef AUTODUMP_SETTINGS_CONFIGURE_DATABASE_H_
#define AUTODUMP_SETTINGS_CONFIGURE_DATABASE_H_

#include <string>

#include "settings/backup_settings.h"
#include "shell/console.h"

// A text field of the settings, with what the dialogue asks and shows for it.
struct settings_field {
  text_id prompt;
  text_id label;
  std::string backup_settings::*value;
};

// The six, in the order the dialogue asks for them.
extern const settings_field settings_fields[6];

// Asks for the six text fields one word each, stores every answer as soon as it
// is read, then shows them all: the password as eight asterisks unless the
// output is a terminal the operator watches. Returns ok, or how reading ended
// before the last answer; the fields answered until then keep their new
// values.
read_status configure_database(console& con, backup_settings& settings);

#endif  // AUTODUMP_SETTINGS_CONFIGURE_DATABASE_H_
