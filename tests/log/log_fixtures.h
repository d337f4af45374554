// Helpers of the run log and installation tests: a scratch directory, a clock
// the test sets, and scoped changes of the environment and working directory.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "platform/clock.h"
#include "platform/local_time.h"
#include "support/fake_clock.h"

namespace tk571::testing {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path() /
            ("tk571_log_" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" +
             std::to_string(counter++));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  // Spelled as the driver spells directories: with a trailing '/'.
  std::string dir() const { return path_.string() + "/"; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

inline std::chrono::system_clock::time_point LocalTime(int y, int mo, int d, int h = 0, int mi = 0,
                                                       int s = 0, int ms = 0) {
  return platform::FromLocalTime({y, mo, d, h, mi, s, ms});
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value->c_str(), 1) : unsetenv(name);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class ScopedCwd {
 public:
  explicit ScopedCwd(const fs::path& dir) : old_(fs::current_path()) {
    fs::create_directories(dir);
    fs::current_path(dir);
  }
  ~ScopedCwd() { fs::current_path(old_); }

 private:
  fs::path old_;
};

}  // namespace tk571::testing
