// The dialogue of menu item 1: the connection details and where the dump goes.
#ifndef AUTODUMP_SETTINGS_CONFIGURE_DATABASE_H_
#define AUTODUMP_SETTINGS_CONFIGURE_DATABASE_H_

#include "settings/backup_settings.h"
#include "shell/console.h"

// Asks for the six text fields one word each, stores every answer as soon as it
// is read, then shows them all: the password as eight asterisks unless the
// output is a terminal the operator watches. Returns ok, or how reading ended
// before the last answer; the fields answered until then keep their new
// values.
read_status configure_database(console& con, backup_settings& settings);

#endif  // AUTODUMP_SETTINGS_CONFIGURE_DATABASE_H_
