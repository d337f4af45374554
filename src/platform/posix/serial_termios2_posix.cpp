#include <asm/termbits.h>
#include <errno.h>
#include <sys/ioctl.h>

#include "platform/posix/serial_termios2.h"

namespace tk571::platform::posix {

int SetCustomBaud(int fd, uint32_t baud) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  if (ioctl(fd, TCSETS2, &t) != 0) return errno;
  return 0;
}

int GetBaud(int fd, uint32_t& baud) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  baud = t.c_ospeed;
  return 0;
}

}  // namespace tk571::platform::posix
