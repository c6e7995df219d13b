#include "backup/os_env.h"

#include <ctime>

#include "backup/cadence.h"
#include "backup/report_text.h"

namespace {

// Every call goes to the platform; the one program started lives here.
class system_os_env : public os_env {
 public:
  int64_t now_ms() override { return monotonic_milliseconds(); }
  void sleep(int64_t milliseconds) override { sleep_milliseconds(milliseconds); }
  std::string local_time_at(int64_t at_ms) override {
    return local_time_text(std::time(nullptr) + (at_ms - monotonic_milliseconds()) / second_ms);
  }

  bool is_directory(const std::string& path) override { return ::is_directory(path); }
  bool directory_accepts_files(const std::string& directory, os_error* error) override {
    return ::directory_accepts_files(directory, error);
  }
  bool resolve_links(const std::string& path, std::string* target, os_error* error) override {
    return ::resolve_links(path, target, error);
  }
  bool modified_ago(const std::string& path, int64_t* age_ms) override {
    return ::modified_ago(path, age_ms);
  }
  bool open_device(const std::string& path, scoped_handle* device, os_error* error) override {
    return ::open_device(path, device, error);
  }
  bool name_is_reserved(const std::string& path, std::string* name) override {
    return ::name_is_reserved(path, name);
  }
  bool name_has_forbidden_characters(const std::string& path, std::string* name) override {
    return ::name_has_forbidden_characters(path, name);
  }
  bool text_is_usable(const std::string& text, os_error* error) override {
    return ::text_is_usable(text, error);
  }

  bool create_temp_file(const std::string& path, temp_file* file, os_error* error) override {
    return ::create_temp_file(path, file, error);
  }
  bool remove_leftover(const std::string& path, os_error* error) override {
    return ::remove_leftover(path, error);
  }
  int64_t claimed_size(const temp_file& file) override { return ::claimed_size(file); }
  bool take_over_permissions(temp_file* file, const std::string& target, os_error* error) override {
    return ::take_over_permissions(file, target, error);
  }
  bool put_in_place(temp_file* file, const std::string& target, os_error* error) override {
    return ::put_in_place(file, target, error);
  }
  void discard_temp_file(temp_file* file) override { ::discard_temp_file(file); }
  bool create_handed_file(const std::string& content, handed_file* file, os_error* error) override {
    return ::create_handed_file(content, file, error);
  }
  void remove_handed_file(handed_file* file) override { ::remove_handed_file(file); }
  bool create_scratch_file(scoped_handle* file, os_error* error) override {
    return ::create_scratch_file(file, error);
  }
  std::string read_scratch_file(const scoped_handle& file, std::size_t most) override {
    return ::read_scratch_file(file, most);
  }

  std::string find_program(const std::string& name) override { return ::find_program(name); }
  bool arguments_fit(const std::vector<std::string>& arguments) override {
    return ::arguments_fit(arguments);
  }
  bool start_program(const std::vector<std::string>& arguments, const scoped_handle& output,
                     os_error* error) override {
    return ::start_program(arguments, output, &program_, error);
  }
  bool wait_for_program(int64_t timeout_ms, int* status) override {
    if (!::wait_for_program(*program_, timeout_ms, status)) return false;
    // Gone with all it started: children that come later are none of its.
    program_.reset();
    return true;
  }
  void end_program_politely() override { ::end_program_politely(*program_); }
  void end_program_by_force() override { ::end_program_by_force(*program_); }
  void hold_ending_signals() override { ::hold_ending_signals(); }
  int release_ending_signals() override { return ::release_ending_signals(); }
  bool ending_signal_held() override { return ::ending_signal_held(); }
  void end_by_signal(int signal) override { ::end_by_signal(signal); }

 private:
  program_ptr program_;
};

}  // namespace

os_env& system_env() {
  static system_os_env env;
  return env;
}
