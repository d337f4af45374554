#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/host_event.h"

namespace tk571::platform {

namespace {

// Linux names every eventfd's anonymous inode this way in /proc.
constexpr std::string_view kEventFdLink = "anon_inode:[eventfd]";

}  // namespace

bool IsHostEvent(uint32_t handle) {
  if (handle == 0 || handle > static_cast<uint32_t>(INT32_MAX)) return false;
  const int fd = static_cast<int>(handle);
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  // An eventfd is neither a file, a directory, a pipe, a socket nor a device.
  if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) ||
      S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
    return false;
  }
  const std::string link_path = "/proc/self/fd/" + std::to_string(fd);
  char target[64];
  const ssize_t length = readlink(link_path.c_str(), target, sizeof(target));
  return length > 0 && std::string_view(target, static_cast<std::size_t>(length)) == kEventFdLink;
}

void SignalHostEvent(uint32_t handle) {
  if (!IsHostEvent(handle)) return;
  const uint64_t one = 1;
  // A full counter (the host never reads it) refuses the write; the host
  // already has a signal waiting.
  [[maybe_unused]] const ssize_t written = write(static_cast<int>(handle), &one, sizeof(one));
}

}  // namespace tk571::platform
