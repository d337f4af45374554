// Pseudo-terminal plumbing of the simulator: an owned file descriptor and the
// master side of a raw pseudo-terminal.
#pragma once

#include <string>
#include <utility>

namespace tk571::sim::detail {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// The master side in raw, non-blocking mode. The simulator also keeps the
// slave side open itself: otherwise the master reads EIO and polls POLLHUP
// whenever no driver has the port open, and the line could not wait for one.
struct Pty {
  UniqueFd master;
  UniqueFd slave_hold;
  std::string slave_path;

  // Throws std::system_error.
  static Pty Open();
};

// Points `link` at `target`, replacing whatever was there in one step (a
// driver that opens the link never sees it missing).
void RepointSymlink(const std::string& link, const std::string& target);

}  // namespace tk571::sim::detail
