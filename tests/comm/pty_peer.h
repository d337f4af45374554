// The controller's end of a pseudo-terminal, for tests of the serial port.
// The class under test opens the slave path; the test writes the
// controller's answer bytes into the master and reads what the class sent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tk571::test {

class PtyPeer {
 public:
  PtyPeer();
  ~PtyPeer() { CloseMaster(); }
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  const std::string& SlavePath() const { return slave_path_; }
  void Write(std::string_view bytes);
  // Reads until `count` bytes have come or 3 s have passed.
  std::string Read(std::size_t count);
  // Whatever arrives within `wait_ms`.
  std::string ReadFor(int wait_ms);
  // Unplugs the line: the slave side then reads EIO and polls POLLHUP.
  void CloseMaster();

 private:
  int master_ = -1;
  std::string slave_path_;
};

// A directory of its own for each test, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Points the symbolic link `link` at `target` atomically, as udev does when a
// USB serial adapter comes back under a stable name.
void PointLink(const std::string& link, const std::string& target);

}  // namespace tk571::test
