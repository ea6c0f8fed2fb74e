// Shared by every test executable: loopback sockets for network tests. The
// port is chosen by the kernel (bind to port 0), so tests running side by
// side never collide.
#include "testnet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Binds fd to an ephemeral port of 127.0.0.1; the port, or -1.
static int bind_loopback(int fd) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return -1;
  socklen_t len = sizeof sa;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return -1;
  return ntohs(sa.sin_port);
}

int listen_loopback(int backlog, int* port, int rcvbuf) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (rcvbuf > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  *port = bind_loopback(fd);
  if (*port < 0 || listen(fd, backlog) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int refused_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  int port = bind_loopback(fd);
  close(fd);
  return port;
}
