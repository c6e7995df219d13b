// A first check of the connection, so that a wrong password, host or database
// name, or an account that lacks what the dump needs, shows when the automatic
// backup starts, not an interval later.
#ifndef AUTODUMP_BACKUP_CONNECTION_CHECK_H_
#define AUTODUMP_BACKUP_CONNECTION_CHECK_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "backup/dump_command.h"
#include "backup/os_env.h"
#include "settings/backup_settings.h"
#include "shell/console.h"

// How long each run of the tool in the check may take before it is ended.
constexpr int64_t connection_check_ms = 30'000;

// How long the tool may take to tell its version.
constexpr int64_t version_query_ms = 10'000;

// Asks the tool at `path` which version it is (tool_version.h); unknown where
// it does not answer in time or in a way that can be read. A signal that ends
// the program meanwhile ends the tool too, then the program.
tool_version identify_tool(os_env& env, const std::string& path);

// The first table whose structure a schema dump (`dump`, its beginning) holds,
// its name as the tool takes it back; "" where it holds none.
std::string first_table(std::string_view dump);

// Runs `tool` with the connection values, reading the schema only and locking
// nothing; then, where the database has a table, reads that one table's
// schema with the table lock the dump takes (none where the option file asks
// for a single transaction). Prints a warning with the exit status of the run
// that failed (its own message stands above, on standard error), adding it to
// `shown`; prints nothing when both succeed. A schema too large to read in
// time fails nothing once the tool has answered: it was let in. A signal that
// ends the program meanwhile ends the tool too, then the program.
void check_connection(console& con, const backup_settings& settings, const dump_tool& tool,
                      os_env& env, std::vector<kept_line>* shown);

#endif  // AUTODUMP_BACKUP_CONNECTION_CHECK_H_
