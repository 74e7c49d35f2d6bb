// Every listing opens a data connection, and the server, which closes it,
// keeps the port in TIME_WAIT for a minute: one update of a large tree
// leaves thousands of such ports on loopback, where client and server share
// one range of ephemeral ports. Before each timed run a benchmark waits
// (untimed) until most of them have expired, so that a run never finds the
// range used up and breaks off.
#pragma once

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace orvane::bench {

inline int TimeWaitSockets() {
  int count = 0;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      if (state == "06") ++count;
    }
  }
  return count;
}

// Waits until at most `maxTimeWait` ports are in TIME_WAIT, or 90 seconds.
inline void WaitForFreePorts(int maxTimeWait) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
  while (TimeWaitSockets() > maxTimeWait && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
}

}  // namespace orvane::bench
