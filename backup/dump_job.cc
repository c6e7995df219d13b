#include "backup/dump_job.h"

namespace {

// Each round either claims a fresh file or clears a leftover out of the way;
// only other programs racing for the same file make more than two rounds.
claim_status claim_temp_file(const std::string& path, temp_file* file, std::string* error) {
  for (int round = 0; round < 8; ++round) {
    claim_status created = create_temp_file(path, file, error);
    if (created != claim_status::in_the_way) return created;
    switch (remove_leftover(path, error)) {
      case leftover_status::busy:
        return claim_status::busy;
      case leftover_status::failed:
        return claim_status::failed;
      case leftover_status::removed:
        break;
    }
  }
  // Others keep taking the path: as good as held by another program.
  return claim_status::busy;
}

// Puts the dump in place, waiting for another program holding the dump file
// to let go; an ending signal cuts the waiting short.
std::string put_in_place_when_free(temp_file* temp, const std::string& target,
                                   const std::function<void()>& on_waiting) {
  std::string error = put_in_place(temp, target);
  for (int tries = 0; !error.empty() && tries < held_dump_file_retries &&
                      held_by_another_program(target) && !ending_signal_held();
       ++tries) {
    if (tries == 0 && on_waiting) on_waiting();
    sleep_milliseconds(1000);
    error = put_in_place(temp, target);
  }
  return error;
}

dump_result claim_and_dump(const dump_command& command, const std::string& target,
                           int64_t deadline_ms, const dump_progress& on_progress,
                           const std::function<void()>& on_waiting) {
  const int64_t started_ms = monotonic_milliseconds();
  temp_file temp;
  std::string error;
  switch (claim_temp_file(temp_file_path(target), &temp, &error)) {
    case claim_status::busy:
    case claim_status::in_the_way:
      return {dump_outcome::busy};
    case claim_status::failed:
      return {dump_outcome::not_saved, 0, error};
    case claim_status::claimed:
      break;
  }
  auto each_second = [&] {
    if (on_progress) on_progress(monotonic_milliseconds() - started_ms, claimed_size(temp));
  };
  int status = run_dump_tool(command, temp, deadline_ms, each_second);
  if (status != 0) {
    discard_temp_file(&temp);
    if (status == dump_tool_overran) return {dump_outcome::overran};
    return {dump_outcome::tool_failed, status};
  }
  const int64_t bytes = claimed_size(temp);
  error = put_in_place_when_free(&temp, target, on_waiting);
  if (error.empty())
    return {dump_outcome::saved, 0, "", monotonic_milliseconds() - started_ms, bytes};
  discard_temp_file(&temp);
  return {dump_outcome::not_saved, 0, error};
}

}  // namespace

dump_result run_dump(const dump_command& command, const std::string& dump_file, int64_t deadline_ms,
                     const dump_progress& on_progress, const std::function<void()>& on_waiting) {
  if (std::string error = unusable_text(command, dump_file); !error.empty())
    return {dump_outcome::not_saved, 0, error};
  hold_ending_signals();
  // Written through a link, as a shell's redirection would.
  dump_result result =
      claim_and_dump(command, link_target(dump_file), deadline_ms, on_progress, on_waiting);
  if (int signal = release_ending_signals()) end_by_signal(signal);
  return result;
}
