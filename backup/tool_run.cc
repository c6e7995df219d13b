#include "backup/tool_run.h"

#include <algorithm>

#include "backup/cadence.h"
#include "backup/scope_guard.h"

namespace {

constexpr int64_t kNever = INT64_MAX;

tool_result wait_for_tool(os_env& env, int64_t deadline_ms,
                          const std::function<void()>& each_second) {
  cadence tick{env.now_ms() + second_ms};
  bool overran = false;
  bool interrupted = false;
  int64_t force_at_ms = kNever;
  for (;;) {
    const int64_t now_ms = env.now_ms();
    if (!overran && now_ms >= deadline_ms) {
      env.end_program_politely();
      overran = true;
      force_at_ms = std::min(force_at_ms, now_ms + tool_grace_ms);
    }
    // The signal has been passed on to the tool: one that ignores it must not
    // keep the program from ending for long.
    if (!interrupted && env.ending_signal_held()) {
      interrupted = true;
      force_at_ms = std::min(force_at_ms, now_ms + tool_grace_ms);
    }
    if (now_ms >= force_at_ms) {
      env.end_program_by_force();
      force_at_ms = kNever;
    }
    if (now_ms >= tick.deadline_ms) {
      if (each_second) each_second();
      advance_cadence(&tick, now_ms);
    }
    const int64_t until_ms =
        std::min({tick.deadline_ms, force_at_ms, overran ? kNever : deadline_ms});
    int status = 0;
    if (env.wait_for_program(std::max<int64_t>(until_ms - now_ms, 0), &status))
      return {overran ? tool_end::overran : tool_end::exited, status};
  }
}

tool_result start_and_wait(os_env& env, const std::vector<std::string>& arguments,
                           const scoped_handle& output, int64_t deadline_ms,
                           const std::function<void()>& each_second) {
  if (!env.start_program(arguments, output, nullptr)) return {tool_end::exited, tool_not_started};
  // A throw while it runs (from `each_second`) leaves nothing of it running.
  scope_guard ended([&] {
    env.end_program_by_force();
    int status = 0;
    env.wait_for_program(tool_grace_ms, &status);
  });
  tool_result result = wait_for_tool(env, deadline_ms, each_second);
  ended.dismiss();
  return result;
}

}  // namespace

tool_result run_tool(os_env& env, const dump_command& command, const scoped_handle& output,
                     int64_t deadline_ms, const std::function<void()>& each_second) {
  if (env.ending_signal_held()) return {tool_end::interrupted};
  if (command.option_file.empty())
    return start_and_wait(env, command.arguments, output, deadline_ms, each_second);
  handed_file options;
  if (!env.create_handed_file(command.option_file, &options, nullptr))
    return {tool_end::exited, tool_not_started};
  scope_guard removed([&] { env.remove_handed_file(&options); });
  std::vector<std::string> arguments = command.arguments;
  // Both families read this option only as the very first argument.
  arguments.insert(arguments.begin() + 1, "--defaults-extra-file=" + options.name);
  return start_and_wait(env, arguments, output, deadline_ms, each_second);
}
