// What would make every backup fail, told when the automatic backup starts
// rather than a whole interval later.
#ifndef AUTODUMP_BACKUP_STARTUP_WARNINGS_H_
#define AUTODUMP_BACKUP_STARTUP_WARNINGS_H_

#include <string>
#include <vector>

#include "backup/os_env.h"
#include "settings/backup_settings.h"
#include "shell/console.h"

// Prints one warning line for each problem found: no database name; a folder
// of the dump file (of its link's target, where it is a symbolic link) that is
// missing or not writable, or a directory where the dump file should be; a
// save directory typed without its trailing separator; no `dump_tool` where a
// backup would look for it; values too long to start it with, or that the
// system cannot take; another account's link at the dump file. Prints nothing
// when all is in order, and adds what it printed to `shown`. Looks at the file
// system; changes nothing. Returns whether it found a database name, the dump
// tool and values it can be started with, without which trying the connection
// is pointless.
bool warn_before_backing_up(console& con, os_env& env, const backup_settings& settings,
                            const std::string& dump_tool, std::vector<kept_line>* shown);

#endif  // AUTODUMP_BACKUP_STARTUP_WARNINGS_H_
