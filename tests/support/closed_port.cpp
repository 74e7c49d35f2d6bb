#include "tests/support/closed_port.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvane::test {

CClosedPort::CClosedPort() {
  for (int attempt = 0; attempt < 20 && port_ == 0; ++attempt) {
    const int v4 = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (v4 < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(v4, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(v4, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ::close(v4);
      return;
    }
    const int v6 = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (v6 >= 0) {
      sockaddr_in6 address6{};
      address6.sin6_family = AF_INET6;
      address6.sin6_addr = in6addr_loopback;
      address6.sin6_port = address.sin_port;
      if (::bind(v6, reinterpret_cast<sockaddr*>(&address6), sizeof(address6)) != 0) {
        const int error = errno;
        ::close(v6);
        if (error == EADDRINUSE) {
          // Taken on ::1 only: try another port.
          ::close(v4);
          continue;
        }
      } else {
        v6_ = v6;
      }
    }
    v4_ = v4;
    port_ = ntohs(address.sin_port);
  }
}

CClosedPort::~CClosedPort() {
  if (v4_ >= 0) ::close(v4_);
  if (v6_ >= 0) ::close(v6_);
}

}  // namespace orvane::test
