#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/files.h"

namespace tk571::platform {
namespace {

// A writer that holds the log longer than this is treated like a Windows
// program that opened the file denying writers: the text is dropped.
constexpr int kLockAttempts = 40;
constexpr long kLockRetryNs = 5'000'000;  // 5 ms, 200 ms in all

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

bool StatPath(const std::string& path, struct stat* st) {
  return !path.empty() && stat(path.c_str(), st) == 0;
}

void SleepRealNs(long ns) {
  timespec ts{0, ns};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

bool LockWithBoundedWait(int fd) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    SleepRealNs(kLockRetryNs);
  }
  return false;
}

bool WriteAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool PathExists(const std::string& path) {
  struct stat st {};
  return StatPath(path, &st);
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return StatPath(path, &st) && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return StatPath(path, &st) && S_ISDIR(st.st_mode);
}

std::optional<uint64_t> FileSize(const std::string& path) {
  struct stat st {};
  if (!StatPath(path, &st) || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

std::optional<std::chrono::system_clock::time_point> ModificationTime(const std::string& path) {
  struct stat st {};
  if (!StatPath(path, &st)) return std::nullopt;
  using namespace std::chrono;
  return system_clock::time_point(duration_cast<system_clock::duration>(
      seconds(st.st_mtim.tv_sec) + nanoseconds(st.st_mtim.tv_nsec)));
}

bool MakeDirectories(const std::string& dir) {
  if (dir.empty()) return false;
  if (IsDirectory(dir)) return true;
  // Walk the path once, creating each level; a level that already exists (or
  // that another process creates meanwhile) is fine.
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    const std::string level = dir.substr(0, pos);
    if (level.empty() || level == "." || level == "..") continue;
    if (mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return IsDirectory(dir);
}

bool CreateFileIfMissing(const std::string& path) {
  if (path.empty()) return false;
  Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666));
  return fd.ok();
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without RENAME_NOREPLACE: a hard link fails on an existing
  // target just the same.
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  if (PathExists(to)) return false;
  return rename(from.c_str(), to.c_str()) == 0;
}

bool DeleteFile(const std::string& path) {
  return !path.empty() && unlink(path.c_str()) == 0;
}

std::vector<std::string> ListDirectory(const std::string& dir) {
  std::vector<std::string> names;
  if (dir.empty()) return names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent* entry = readdir(d)) {
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  }
  closedir(d);
  return names;
}

std::optional<std::string> ReadFileHead(const std::string& path, std::size_t max_bytes) {
  if (path.empty()) return std::nullopt;
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.ok()) return std::nullopt;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::string out;
  char buffer[8192];
  while (out.size() < max_bytes) {
    const std::size_t want = std::min(sizeof(buffer), max_bytes - out.size());
    const ssize_t n = read(fd.get(), buffer, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

AppendResult AppendLocked(const std::string& path, std::string_view bytes) {
  if (path.empty()) return AppendResult::kFailed;
  Fd fd(
      open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
  if (!fd.ok()) return AppendResult::kFailed;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return AppendResult::kFailed;
  if (!LockWithBoundedWait(fd.get())) return AppendResult::kBusy;
  const bool written = WriteAll(fd.get(), bytes);
  // Closing the descriptor releases the lock.
  return written ? AppendResult::kWritten : AppendResult::kFailed;
}

}  // namespace tk571::platform
