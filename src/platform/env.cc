#include "platform/env.h"

#include <atomic>

namespace vornlink {
namespace {
std::atomic<Env*> g_installed_env{nullptr};
}  // namespace

Env* GetEnv() {
  Env* env = g_installed_env.load(std::memory_order_acquire);
  return env != nullptr ? env : DefaultEnv();
}

Env* InstallEnv(Env* env) { return g_installed_env.exchange(env, std::memory_order_acq_rel); }

}  // namespace vornlink
