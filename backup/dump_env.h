// What a dump needs from the operating system, so that tests can drive the
// dump job, with its retries, waits and tidying up, through fakes.
#ifndef AUTODUMP_BACKUP_DUMP_ENV_H_
#define AUTODUMP_BACKUP_DUMP_ENV_H_

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

// Each member does what the platform call of its name (see platform.h) does;
// the dump tool is the one program started at a time.
struct dump_env {
  std::function<bool(const std::string& path, temp_file* file, os_error* error)> create_temp_file;
  std::function<bool(const std::string& path, os_error* error)> remove_leftover;
  std::function<bool(const std::vector<std::string>& arguments, const scoped_handle& output,
                     os_error* error)>
      start_tool;
  std::function<bool(int64_t timeout_ms, int* status)> wait_for_tool;
  std::function<void()> end_tool_politely;
  std::function<void()> end_tool_by_force;
  std::function<int64_t(const temp_file& file)> claimed_size;
  std::function<bool(temp_file* file, const std::string& target, os_error* error)>
      take_over_permissions;
  std::function<bool(temp_file* file, const std::string& target, os_error* error)> put_in_place;
  std::function<void(temp_file* file)> discard_temp_file;
  std::function<bool(const std::string& content, handed_file* file, os_error* error)>
      create_handed_file;
  std::function<void(handed_file* file)> remove_handed_file;
  std::function<bool(scoped_handle* file, os_error* error)> create_scratch_file;
  std::function<std::string(const scoped_handle& file, std::size_t most)> read_scratch_file;
  std::function<bool(const std::string& path, std::string* target, os_error* error)> resolve_links;
  std::function<bool(const std::string& path, scoped_handle* device, os_error* error)> open_device;
  std::function<bool(const std::string& path, std::string* name)> name_is_reserved;
  std::function<void()> hold_ending_signals;
  std::function<int()> release_ending_signals;
  std::function<bool()> ending_signal_held;
  std::function<void(int signal)> end_by_signal;
  std::function<void(int64_t milliseconds)> sleep;
  // On the clock of monotonic_milliseconds().
  std::function<int64_t()> now_ms;
};

// The operating system's.
dump_env system_dump_env();

// Holds the ending signals from its making until release(), and releases them
// on any other way out (a throw), so that none stays held by mistake.
class ending_signals_held {
 public:
  explicit ending_signals_held(const dump_env& env) : env_(&env) { env.hold_ending_signals(); }
  ~ending_signals_held() {
    if (env_) env_->release_ending_signals();
  }
  ending_signals_held(const ending_signals_held&) = delete;
  ending_signals_held& operator=(const ending_signals_held&) = delete;

  // Ends the holding: the first signal held meanwhile, 0 if none.
  int release() { return std::exchange(env_, nullptr)->release_ending_signals(); }

 private:
  const dump_env* env_;
};

#endif  // AUTODUMP_BACKUP_DUMP_ENV_H_
