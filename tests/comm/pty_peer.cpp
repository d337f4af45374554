#include "comm/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace tk571::test {
namespace {

constexpr int kReadDeadlineMs = 3000;

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

PtyPeer::PtyPeer() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  const char* name = ptsname(master_);
  if (name == nullptr) throw std::runtime_error("no pseudo-terminal name");
  slave_path_ = name;
  termios t{};
  tcgetattr(master_, &t);
  cfmakeraw(&t);
  tcsetattr(master_, TCSANOW, &t);
}

void PtyPeer::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(master_, bytes.data(), bytes.size());
    if (n <= 0) throw std::runtime_error("pty write failed");
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string PtyPeer::Read(std::size_t count) {
  std::string got;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadDeadlineMs);
  while (got.size() < count) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, RemainingMs(deadline)) <= 0 || (p.revents & POLLIN) == 0) break;
    char buffer[4096];
    const ssize_t n = read(master_, buffer, std::min(sizeof(buffer), count - got.size()));
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

std::string PtyPeer::ReadFor(int wait_ms) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, RemainingMs(deadline)) <= 0 || (p.revents & POLLIN) == 0) break;
    char buffer[4096];
    const ssize_t n = read(master_, buffer, sizeof(buffer));
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

void PtyPeer::CloseMaster() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tk571-comm-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary directory");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void PointLink(const std::string& link, const std::string& target) {
  const std::string fresh = link + ".new";
  std::filesystem::remove(fresh);
  std::filesystem::create_symlink(target, fresh);
  std::filesystem::rename(fresh, link);
}

}  // namespace tk571::test
