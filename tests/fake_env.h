// A fake operating system for the policies' unit tests. A test overrides what
// its code under test should use; anything else it calls fails the test at
// once, naming the call. No signal ever comes.
#ifndef AUTODUMP_TESTS_FAKE_ENV_H_
#define AUTODUMP_TESTS_FAKE_ENV_H_

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "backup/os_env.h"

class fake_env : public os_env {
 public:
  int64_t now_ms() override { missing("now_ms"); }
  void sleep(int64_t) override { missing("sleep"); }
  std::string local_time_at(int64_t) override { missing("local_time_at"); }
  bool is_directory(const std::string&) override { missing("is_directory"); }
  bool directory_accepts_files(const std::string&, os_error*) override {
    missing("directory_accepts_files");
  }
  bool resolve_links(const std::string&, std::string*, os_error*) override {
    missing("resolve_links");
  }
  bool modified_ago(const std::string&, int64_t*) override { missing("modified_ago"); }
  bool open_device(const std::string&, scoped_handle*, os_error*) override {
    missing("open_device");
  }
  bool name_is_reserved(const std::string&, std::string*) override { missing("name_is_reserved"); }
  bool name_has_forbidden_characters(const std::string&, std::string*) override {
    missing("name_has_forbidden_characters");
  }
  bool text_is_usable(const std::string&, os_error*) override { missing("text_is_usable"); }
  bool create_temp_file(const std::string&, temp_file*, os_error*) override {
    missing("create_temp_file");
  }
  bool remove_leftover(const std::string&, os_error*) override { missing("remove_leftover"); }
  int64_t claimed_size(const temp_file&) override { missing("claimed_size"); }
  bool take_over_permissions(temp_file*, const std::string&, os_error*) override {
    missing("take_over_permissions");
  }
  bool put_in_place(temp_file*, const std::string&, os_error*) override { missing("put_in_place"); }
  void discard_temp_file(temp_file*) override { missing("discard_temp_file"); }
  bool create_handed_file(const std::string&, handed_file*, os_error*) override {
    missing("create_handed_file");
  }
  void remove_handed_file(handed_file*) override { missing("remove_handed_file"); }
  bool create_scratch_file(scoped_handle*, os_error*) override { missing("create_scratch_file"); }
  std::string read_scratch_file(const scoped_handle&, std::size_t) override {
    missing("read_scratch_file");
  }
  std::string find_program(const std::string&) override { missing("find_program"); }
  bool arguments_fit(const std::vector<std::string>&) override { missing("arguments_fit"); }
  bool start_program(const std::vector<std::string>&, const scoped_handle&, os_error*) override {
    missing("start_program");
  }
  bool wait_for_program(int64_t, int*) override { missing("wait_for_program"); }
  void end_program_politely() override { missing("end_program_politely"); }
  void end_program_by_force() override { missing("end_program_by_force"); }
  void end_by_signal(int) override { missing("end_by_signal"); }
  void hold_ending_signals() override {}
  int release_ending_signals() override { return 0; }
  bool ending_signal_held() override { return false; }

 private:
  [[noreturn]] static void missing(const char* call) {
    ADD_FAILURE() << "os_env::" << call << " called, but not faked";
    throw std::logic_error(call);
  }
};

#endif  // AUTODUMP_TESTS_FAKE_ENV_H_
