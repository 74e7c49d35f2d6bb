// Waiting in a test for something another thread or process does, when it
// gives no event to wait on: `condition` is polled until it holds. The bound
// catches a hang; it is no speed requirement, so it is generous enough for
// a loaded machine under a sanitizer.
#pragma once

#include <chrono>
#include <thread>

namespace orvane::test {

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::seconds bound = std::chrono::seconds(120)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace orvane::test
