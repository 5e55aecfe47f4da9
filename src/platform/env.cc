#include "platform/env.h"

#include <atomic>

namespace vornlink {
namespace {
std::atomic<Env*> g_test_env{nullptr};
}  // namespace

Env* GetEnv() {
  Env* env = g_test_env.load(std::memory_order_acquire);
  return env != nullptr ? env : DefaultEnv();
}

void SetEnvForTesting(Env* env) { g_test_env.store(env, std::memory_order_release); }

}  // namespace vornlink
