// A directory of one's own for a test, removed with all it holds afterwards.
#ifndef AUTODUMP_TESTS_TEMP_DIR_H_
#define AUTODUMP_TESTS_TEMP_DIR_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

struct temp_dir {
  // Named after the running test, so that tests run side by side never share one.
  temp_dir() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path = std::filesystem::temp_directory_path() /
           ("autodump_" + std::string(test->test_suite_name()) + "." + test->name());
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
  }
  ~temp_dir() { std::filesystem::remove_all(path); }
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  std::filesystem::path path;
};

#endif  // AUTODUMP_TESTS_TEMP_DIR_H_
