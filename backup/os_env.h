// The operating system as the backup's policies see it: one interface for the
// scheduler, the dump job, the start-up warnings and the connection check, so
// that tests drive each of them through a fake that overrides what it needs.
// Each call does what the platform call of its name (platform.h) does, with
// one difference: the environment starts at most one program at a time, and
// the calls about "the program" mean that one.
#ifndef AUTODUMP_BACKUP_OS_ENV_H_
#define AUTODUMP_BACKUP_OS_ENV_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

class os_env {
 public:
  virtual ~os_env() = default;

  // The clock. now_ms() is monotonic_milliseconds()'s clock.
  virtual int64_t now_ms() = 0;
  virtual void sleep(int64_t milliseconds) = 0;
  // The local date and time ("YYYY-MM-DD HH:MM:SS") at a moment of now_ms()'s clock.
  virtual std::string local_time_at(int64_t at_ms) = 0;

  // Names and files.
  virtual bool is_directory(const std::string& path) = 0;
  virtual bool directory_accepts_files(const std::string& directory, os_error* error) = 0;
  virtual bool resolve_links(const std::string& path, std::string* target, os_error* error) = 0;
  virtual bool modified_ago(const std::string& path, int64_t* age_ms) = 0;
  virtual bool open_device(const std::string& path, scoped_handle* device, os_error* error) = 0;
  virtual bool name_is_reserved(const std::string& path, std::string* name) = 0;
  virtual bool name_has_forbidden_characters(const std::string& path, std::string* name) = 0;
  virtual bool text_is_usable(const std::string& text, os_error* error) = 0;

  // Temporary, handed and scratch files.
  virtual bool create_temp_file(const std::string& path, temp_file* file, os_error* error) = 0;
  virtual bool remove_leftover(const std::string& path, os_error* error) = 0;
  virtual int64_t claimed_size(const temp_file& file) = 0;
  virtual bool take_over_permissions(temp_file* file, const std::string& target,
                                     os_error* error) = 0;
  virtual bool put_in_place(temp_file* file, const std::string& target, os_error* error) = 0;
  virtual void discard_temp_file(temp_file* file) = 0;
  virtual bool create_handed_file(const std::string& content, handed_file* file,
                                  os_error* error) = 0;
  virtual void remove_handed_file(handed_file* file) = 0;
  virtual bool create_scratch_file(scoped_handle* file, os_error* error) = 0;
  virtual std::string read_scratch_file(const scoped_handle& file, std::size_t most) = 0;

  // The program, and the ending signals.
  virtual std::string find_program(const std::string& name) = 0;
  virtual bool arguments_fit(const std::vector<std::string>& arguments) = 0;
  virtual bool start_program(const std::vector<std::string>& arguments, const scoped_handle& output,
                             os_error* error) = 0;
  virtual bool wait_for_program(int64_t timeout_ms, int* status) = 0;
  virtual void end_program_politely() = 0;
  virtual void end_program_by_force() = 0;
  virtual void hold_ending_signals() = 0;
  virtual int release_ending_signals() = 0;
  virtual bool ending_signal_held() = 0;
  // Ends the process as `signal` would have; a fake may throw instead.
  virtual void end_by_signal(int signal) = 0;
};

// The real operating system, for the whole run of the program.
os_env& system_env();

// Holds the ending signals from its making until release(), and releases them
// on any other way out (a throw), so that none stays held by mistake.
class ending_signals_held {
 public:
  explicit ending_signals_held(os_env& env) : env_(&env) { env.hold_ending_signals(); }
  ~ending_signals_held() {
    if (env_) env_->release_ending_signals();
  }
  ending_signals_held(const ending_signals_held&) = delete;
  ending_signals_held& operator=(const ending_signals_held&) = delete;

  // Ends the holding: the first signal held meanwhile, 0 if none.
  int release() { return std::exchange(env_, nullptr)->release_ending_signals(); }

 private:
  os_env* env_;
};

#endif  // AUTODUMP_BACKUP_OS_ENV_H_
