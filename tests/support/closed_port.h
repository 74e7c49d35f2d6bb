// A loopback TCP port on which every connection is refused, reserved for
// the object's life. A socket is bound to the port on 127.0.0.1 (and on ::1
// where the machine has it, for clients that resolve "localhost" to both)
// but never listens: a connection attempt gets a reset, and no server of a
// test running beside this one can bind the port meanwhile, as it could a
// port that was bound and closed again.
#pragma once

#include <cstdint>

namespace orvane::test {

class CClosedPort {
 public:
  CClosedPort();
  ~CClosedPort();
  CClosedPort(const CClosedPort&) = delete;
  CClosedPort& operator=(const CClosedPort&) = delete;

  // 0 if no port could be reserved.
  std::uint16_t port() const { return port_; }

 private:
  int v4_ = -1;
  int v6_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace orvane::test
