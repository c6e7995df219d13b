// The dump tool run to its end, with a word each second, and ended when it
// runs past its deadline.
#ifndef AUTODUMP_BACKUP_TOOL_RUN_H_
#define AUTODUMP_BACKUP_TOOL_RUN_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "backup/dump_command.h"
#include "backup/os_env.h"

// How long a tool asked to end (at its deadline, or by an ending signal passed
// on to it) has before it is ended by force.
constexpr int64_t tool_grace_ms = 10'000;

// The exit status of a tool that could not be started, as a shell reports a
// command it cannot find.
constexpr int tool_not_started = 127;

enum class tool_end {
  exited,       // by itself, or by a signal passed on to it
  overran,      // still running at its deadline, and ended
  interrupted,  // an ending signal came before it could start; it never ran
};

struct tool_result {
  tool_end end;
  int status = 0;  // exited: its exit status (tool_not_started where it never ran)
};

// Starts `command` with standard output into `output`, and waits until it
// and all it started have ended, calling `each_second` (where given) once a
// second meanwhile. Its option file, where it has one, is a handed file named
// first on its command line, and is gone once it has ended. At `deadline_ms`
// it is asked to end, and ended by force tool_grace_ms later; an ending signal
// held meanwhile is passed on to it, and it is ended by force tool_grace_ms
// after that. Needs the ending signals held.
tool_result run_tool(os_env& env, const dump_command& command, const scoped_handle& output,
                     int64_t deadline_ms, const std::function<void()>& each_second);

#endif  // AUTODUMP_BACKUP_TOOL_RUN_H_
