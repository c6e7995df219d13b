#include "backup/connection_check.h"

#include <csignal>
#include <string>

#include "backup/report_text.h"
#include "backup/tool_run.h"

namespace {

// Where a schema dump names its first table: after its header, well within this.
constexpr std::size_t kFirstOutputBytes = 64 * 1024;

// Runs `command` to its end, or to `limit_ms` from now, with the ending
// signals held; a signal that came meanwhile ends the program once the tool
// has ended.
tool_result run_to_end(os_env& env, const dump_command& command,
                       const scoped_handle& output, int64_t limit_ms) {
  ending_signals_held held(env);
  tool_result run = run_tool(env, command, output, env.now_ms() + limit_ms, nullptr);
  if (int signal = held.release()) env.end_by_signal(signal);
  return run;
}

// The status a run ends with; one that did not end in time was ended as by
// SIGTERM.
int status_of(const tool_result& run) {
  return run.end == tool_end::overran ? 128 + SIGTERM : run.status;
}

}  // namespace

tool_version identify_tool(os_env& env, const std::string& path) {
  scoped_handle output;
  if (!env.create_scratch_file(&output, nullptr)) return {};
  tool_result run = run_to_end(env, build_version_command({path}), output, version_query_ms);
  if (run.end != tool_end::exited || run.status != 0) return {};
  return parse_tool_version(env.read_scratch_file(output, 4096));
}

std::string first_table(std::string_view dump) {
  constexpr std::string_view kCreate = "CREATE TABLE ";
  std::size_t at = dump.find(kCreate);
  if (at == std::string_view::npos) return "";
  at += kCreate.size();
  constexpr std::string_view kIfNotExists = "IF NOT EXISTS ";
  if (dump.substr(at, kIfNotExists.size()) == kIfNotExists) at += kIfNotExists.size();
  std::string name;
  if (at < dump.size() && dump[at] == '`') {
    // A backtick inside a quoted name is written twice.
    for (++at; at < dump.size(); ++at) {
      if (dump[at] == '`' && (at + 1 >= dump.size() || dump[++at] != '`')) return name;
      name += dump[at];
    }
    return "";  // cut off before its end
  }
  for (; at < dump.size() && dump[at] != ' ' && dump[at] != '(' && dump[at] != '\n'; ++at)
    name += dump[at];
  return at < dump.size() ? name : "";
}

void check_connection(console& con, const backup_settings& settings, const dump_tool& tool,
                      os_env& env, std::vector<kept_line>* shown) {
  dump_command schema = build_check_command(settings, tool);
  // Such a value fails every backup, which says why.
  if (!values_are_usable(env, schema, "", nullptr)) return;
  scoped_handle output;
  // Without a scratch file the output is discarded, and no table is checked.
  const bool captured = env.create_scratch_file(&output, nullptr);
  tool_result run = run_to_end(env, schema, output, connection_check_ms);
  const std::string answer = captured ? env.read_scratch_file(output, kFirstOutputBytes) : "";
  int status = status_of(run);
  // Thousands of tables can take longer to read than the check waits; a tool
  // that has written the schema's beginning was let in.
  if (run.end == tool_end::overran && !answer.empty()) status = 0;
  if (const std::string table = first_table(answer); status == 0 && !table.empty())
    status = status_of(run_to_end(env, build_lock_check_command(settings, tool, table),
                                  scoped_handle(), connection_check_ms));
  if (status == 0) return;
  shown->push_back(keep_line(con, text_id::warning_connection_failed, exit_status_text(status)));
  print_line(con, shown->back());
}
