#include "backup/dump_env.h"

#include <memory>

dump_env system_dump_env() {
  auto tool = std::make_shared<program_ptr>();
  return {create_temp_file,
          remove_leftover,
          [tool](const std::vector<std::string>& arguments, const scoped_handle& output,
                 os_error* error) { return start_program(arguments, output, tool.get(), error); },
          [tool](int64_t timeout_ms, int* status) {
            return wait_for_program(**tool, timeout_ms, status);
          },
          [tool] { end_program_politely(**tool); },
          [tool] { end_program_by_force(**tool); },
          claimed_size,
          take_over_permissions,
          put_in_place,
          discard_temp_file,
          create_handed_file,
          remove_handed_file,
          create_scratch_file,
          read_scratch_file,
          resolve_links,
          open_device,
          name_is_reserved,
          hold_ending_signals,
          release_ending_signals,
          ending_signal_held,
          end_by_signal,
          sleep_milliseconds,
          monotonic_milliseconds};
}
