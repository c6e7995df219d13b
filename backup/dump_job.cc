#include "backup/dump_job.h"

#include "backup/cadence.h"
#include "backup/scope_guard.h"
#include "backup/tool_run.h"

namespace {

// Each round either claims a fresh file or clears a leftover out of the way;
// only other programs racing for the same file make more than two rounds.
bool claim_temp_file(os_env& env, const std::string& path, temp_file* file, os_error* error) {
  for (int round = 0; round < 8; ++round) {
    if (env.create_temp_file(path, file, error)) return true;
    if (error->kind != error_kind::exists || !env.remove_leftover(path, error)) return false;
  }
  // Others keep taking the path: as good as claimed by another program.
  error->kind = error_kind::claimed;
  return false;
}

// Makes `attempt` until it succeeds, waiting once a second while another
// program holds the file it needs (busy) for at most ten minutes; an ending
// signal cuts the waiting short. `on_waiting` hears of the first wait.
bool when_free(os_env& env, const dump_waiting& on_waiting, os_error* error,
               const std::function<bool()>& attempt) {
  bool done = attempt();
  for (int tries = 0; !done && tries < held_dump_file_retries && error->kind == error_kind::busy &&
                      !env.ending_signal_held();
       ++tries) {
    if (tries == 0 && on_waiting) on_waiting(error->path);
    env.sleep(second_ms);
    done = attempt();
  }
  return done;
}

// The result of a tool that did not succeed.
dump_result failure(const tool_result& run) {
  if (run.end == tool_end::overran) return {dump_outcome::overran};
  if (run.end == tool_end::interrupted) return {dump_outcome::interrupted};
  return {dump_outcome::tool_failed, run.status};
}

bool succeeded(const tool_result& run) { return run.end == tool_end::exited && run.status == 0; }

// Runs the tool into `output`, telling `on_progress` each second what
// `written` says it has written since `started_ms`.
tool_result run_telling(os_env& env, const dump_command& command, const scoped_handle& output,
                        int64_t started_ms, int64_t deadline_ms, const dump_progress& on_progress,
                        const std::function<int64_t()>& written) {
  auto each_second = [&] {
    if (on_progress) on_progress(env.now_ms() - started_ms, written());
  };
  return run_tool(env, command, output, deadline_ms, each_second);
}

dump_result claim_and_dump(os_env& env, const dump_command& command, const std::string& target,
                           int64_t deadline_ms, const dump_progress& on_progress,
                           const dump_waiting& on_waiting) {
  const int64_t started_ms = env.now_ms();
  temp_file temp;
  os_error error;
  // A leftover that a scanner still holds is waited for; another program's
  // claim means another backup to the same file.
  const std::string temp_path = temp_file_path(target);
  if (!when_free(env, on_waiting, &error,
                 [&] { return claim_temp_file(env, temp_path, &temp, &error); })) {
    if (error.kind == error_kind::claimed) return {dump_outcome::busy};
    return {dump_outcome::not_saved, 0, error};
  }
  // Every way out but putting it in place leaves no temporary file.
  scope_guard discarded([&] { env.discard_temp_file(&temp); });
  tool_result run = run_telling(env, command, temp.handle, started_ms, deadline_ms, on_progress,
                                [&] { return env.claimed_size(temp); });
  if (!succeeded(run)) return failure(run);
  const int64_t bytes = env.claimed_size(temp);
  os_error rights;
  const bool rights_kept = env.take_over_permissions(&temp, target, &rights);
  if (when_free(env, on_waiting, &error, [&] { return env.put_in_place(&temp, target, &error); })) {
    discarded.dismiss();
    dump_result saved{dump_outcome::saved, 0, {}, env.now_ms() - started_ms, bytes};
    if (!rights_kept) saved.rights_not_taken = rights;
    return saved;
  }
  return {dump_outcome::not_saved, 0, error};
}

// A pipe or a device takes the dump as it comes, as a shell's ">" would give
// it; there is nothing to put in place, and no size to tell.
dump_result dump_into(os_env& env, const dump_command& command, const scoped_handle& device,
                      int64_t deadline_ms, const dump_progress& on_progress) {
  const int64_t started_ms = env.now_ms();
  tool_result run = run_telling(env, command, device, started_ms, deadline_ms, on_progress,
                                [] { return unknown_size; });
  if (!succeeded(run)) return failure(run);
  return {dump_outcome::saved, 0, {}, env.now_ms() - started_ms, unknown_size};
}

dump_result dump_to(os_env& env, const dump_command& command, const std::string& dump_file,
                    int64_t deadline_ms, const dump_progress& on_progress,
                    const dump_waiting& on_waiting) {
  std::string target;
  scoped_handle device;
  os_error error;
  if (!env.resolve_links(dump_file, &target, &error)) return {dump_outcome::not_saved, 0, error};
  // A name Windows cannot hold fails the claim as "Invalid name", or a colon
  // sends the dump into a stream of another file; a device name would be
  // taken for the device: the claim would fail as if another program held it,
  // or write into the device.
  std::string refused;
  if (env.name_has_forbidden_characters(target, &refused))
    return {dump_outcome::not_saved, 0, {error_kind::forbidden_name, target}};
  if (env.name_is_reserved(target, &refused))
    return {dump_outcome::not_saved, 0, {error_kind::reserved_name, target}};
  if (!env.open_device(target, &device, &error)) return {dump_outcome::not_saved, 0, error};
  if (device.valid()) return dump_into(env, command, device, deadline_ms, on_progress);
  return claim_and_dump(env, command, target, deadline_ms, on_progress, on_waiting);
}

}  // namespace

dump_result run_dump(os_env& env, const dump_command& command, const std::string& dump_file,
                     int64_t deadline_ms, const dump_progress& on_progress,
                     const dump_waiting& on_waiting) {
  if (os_error error; !values_are_usable(env, command, dump_file, &error))
    return {dump_outcome::not_saved, 0, error};
  ending_signals_held held(env);
  dump_result result = dump_to(env, command, dump_file, deadline_ms, on_progress, on_waiting);
  result.signal = held.release();
  return result;
}
