#include <mutex>
#include <thread>

#include "platform/http_client.h"

namespace vornlink {
namespace {

// One tap in the process at a time, for the thread that set it. Not a
// thread_local: the module is loaded and unloaded by its host, and a
// thread's dynamic TLS block of an unloaded module is left behind.
std::mutex g_tap_mutex;
HttpWireTap* g_tap = nullptr;  // guarded by g_tap_mutex
std::thread::id g_tap_owner;   // guarded by g_tap_mutex

}  // namespace

ScopedHttpWireTap::ScopedHttpWireTap(HttpWireTap* tap) {
  std::lock_guard<std::mutex> lock(g_tap_mutex);
  before_ = g_tap;
  before_owner_ = g_tap_owner;
  g_tap = tap;
  g_tap_owner = std::this_thread::get_id();
}

ScopedHttpWireTap::~ScopedHttpWireTap() {
  std::lock_guard<std::mutex> lock(g_tap_mutex);
  g_tap = before_;
  g_tap_owner = before_owner_;
}

HttpWireTap* CurrentHttpWireTap() {
  std::lock_guard<std::mutex> lock(g_tap_mutex);
  return g_tap != nullptr && g_tap_owner == std::this_thread::get_id() ? g_tap : nullptr;
}

}  // namespace vornlink
