// A first check of the connection, so that a wrong password, host or database
// name shows when the automatic backup starts, not an interval later.
#ifndef AUTODUMP_BACKUP_CONNECTION_CHECK_H_
#define AUTODUMP_BACKUP_CONNECTION_CHECK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "backup/dump_env.h"
#include "settings/backup_settings.h"
#include "shell/console.h"

// How long the check may take before the tool is ended and it counts as failed.
constexpr int64_t connection_check_ms = 30'000;

// Runs `dump_tool` once with the connection values, reading the schema only
// and its output discarded, and prints a warning with its exit status when it
// fails (its own message stands above, on standard error), adding it to
// `shown`. Prints nothing when it succeeds. A signal that ends the program
// meanwhile ends the tool too, then the program.
void check_connection(console& con, const backup_settings& settings, const std::string& dump_tool,
                      const dump_env& env, std::vector<kept_line>* shown);

#endif  // AUTODUMP_BACKUP_CONNECTION_CHECK_H_
