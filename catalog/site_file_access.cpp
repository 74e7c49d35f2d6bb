#include "catalog/site_file_access.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace orvane {

namespace {

std::atomic<bool> g_armed{false};
std::mutex g_mutex;
std::thread::id g_forbidden;
std::vector<std::string> g_noted;

}  // namespace

void NoteSiteFileAccess(const char* what) {
  if (!g_armed.load(std::memory_order_relaxed)) return;
  std::lock_guard guard(g_mutex);
  if (std::this_thread::get_id() == g_forbidden) g_noted.emplace_back(what);
}

void ForbidSiteFileAccess(std::thread::id thread) {
  std::lock_guard guard(g_mutex);
  g_forbidden = thread;
  g_armed.store(thread != std::thread::id(), std::memory_order_relaxed);
}

std::vector<std::string> TakeForbiddenSiteFileAccesses() {
  std::lock_guard guard(g_mutex);
  return std::exchange(g_noted, {});
}

}  // namespace orvane
