#include "backup/tool_run.h"

#include <algorithm>

#include "backup/cadence.h"

namespace {

constexpr int64_t kSecondMs = 1000;
constexpr int64_t kNever = INT64_MAX;

}  // namespace

namespace {

tool_result wait_for_tool(const dump_env& env, int64_t deadline_ms,
                          const std::function<void()>& each_second) {
  cadence tick{env.now_ms() + kSecondMs};
  bool overran = false;
  bool interrupted = false;
  int64_t force_at_ms = kNever;
  for (;;) {
    const int64_t now_ms = env.now_ms();
    if (!overran && now_ms >= deadline_ms) {
      env.end_tool_politely();
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
      env.end_tool_by_force();
      force_at_ms = kNever;
    }
    if (now_ms >= tick.deadline_ms) {
      if (each_second) each_second();
      advance_cadence(&tick, now_ms);
    }
    const int64_t until_ms =
        std::min({tick.deadline_ms, force_at_ms, overran ? kNever : deadline_ms});
    int status = 0;
    if (env.wait_for_tool(std::max<int64_t>(until_ms - now_ms, 0), &status))
      return {overran ? tool_end::overran : tool_end::exited, status};
  }
}

}  // namespace

tool_result run_tool(const dump_env& env, const dump_command& command, const scoped_handle& output,
                     int64_t deadline_ms, const std::function<void()>& each_second) {
  if (env.ending_signal_held()) return {tool_end::interrupted};
  std::vector<std::string> arguments = command.arguments;
  handed_file options;
  if (!command.option_file.empty()) {
    if (!env.create_handed_file(command.option_file, &options, nullptr))
      return {tool_end::exited, tool_not_started};
    // Both families read this option only as the very first argument.
    arguments.insert(arguments.begin() + 1, "--defaults-extra-file=" + options.name);
  }
  tool_result result{tool_end::exited, tool_not_started};
  if (env.start_tool(arguments, output, nullptr))
    result = wait_for_tool(env, deadline_ms, each_second);
  if (!command.option_file.empty()) env.remove_handed_file(&options);
  return result;
}
