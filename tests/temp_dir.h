// A directory of one's own for a test, removed with all it holds afterwards.
#ifndef AUTODUMP_TESTS_TEMP_DIR_H_
#define AUTODUMP_TESTS_TEMP_DIR_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

struct temp_dir {
  // Named after the running test and made afresh, so that neither tests side
  // by side nor another run of the suite on the machine ever share one.
  temp_dir() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name =
        "autodump_" + std::string(test->test_suite_name()) + "." + test->name() + ".";
    std::random_device random;
    do {
      path = std::filesystem::temp_directory_path() / (name + std::to_string(random()));
    } while (!std::filesystem::create_directory(path));
  }
  ~temp_dir() { std::filesystem::remove_all(path); }
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  std::filesystem::path path;
};

#endif  // AUTODUMP_TESTS_TEMP_DIR_H_
