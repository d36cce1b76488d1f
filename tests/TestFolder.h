// A fresh, empty folder for the running GoogleTest test, named after the process and the test so
// parallel runs never share one. The fixture removes it in TearDown.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace dv::test {

inline std::filesystem::path MakeTestFolder(const std::string& prefix) {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / (prefix + "-" + std::to_string(getpid()) + "-" +
                                                test->test_suite_name() + "-" + test->name());
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

// A folder for the whole test process (GoogleTest may run many tests in one), made at once and
// removed with everything in it at exit.
class ProcessFolder {
 public:
  explicit ProcessFolder(const std::string& prefix)
      : path_(std::filesystem::temp_directory_path() / (prefix + "-" + std::to_string(getpid()))) {
    std::filesystem::create_directories(path_);
  }
  ~ProcessFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  ProcessFolder(const ProcessFolder&) = delete;
  ProcessFolder& operator=(const ProcessFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace dv::test
