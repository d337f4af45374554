// Local TCP ports for the programs a test starts (a broker, a server).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tk571::test {

// A port that was free a moment ago on 127.0.0.1.
inline int FreeLocalPort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(s, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  close(s);
  return ntohs(address.sin_port);
}

// A connected socket to 127.0.0.1:port, or -1.
inline int ConnectLocal(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return s;
  close(s);
  return -1;
}

inline bool Accepts(int port) {
  const int s = ConnectLocal(port);
  if (s >= 0) close(s);
  return s >= 0;
}

}  // namespace tk571::test
