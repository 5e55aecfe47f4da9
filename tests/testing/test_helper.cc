// A second process for the tests, started beside them (StartBeside):
//   add <module path> <TransNo prefix> <count>: adds <count> transactions,
//     TransNo <prefix><i>, to that module's cache; exit code 0 when all did.
//   pid <folder>: writes its process id to <folder>/pid.
//   wait|die <folder> <mutex name>: "wait" tries the mutex (lock file
//     <folder>/test.lock off Windows) first and writes what it found,
//     "held" or "free", to <folder>/waiting (exit code 5 when it was free);
//     both lock it and write <folder>/acquired; "wait" then unlocks, "die"
//     ends holding it.
#include <cstdlib>
#include <memory>
#include <string>

#include "cache/cache_file.h"
#include "testing/test_env.h"

namespace vornlink {
namespace testing {
namespace {

int Run(int argc, char** argv) {
  const std::string role = argc > 2 ? argv[1] : "";
  if (role == "add" && argc == 5) {
    FakeEnv env;  // the real clocks
    env.set_module_path(argv[2]);
    ScopedEnvOverride use_env(&env);
    bool all_added = true;
    for (int i = 0; i < std::atoi(argv[4]); ++i) {
      const std::string trans_no = argv[3] + std::to_string(i);
      all_added &= AddTransaction(SampleTransaction(trans_no), "0", "0", "") == 1;
    }
    return all_added ? 0 : 1;
  }
  const std::string folder = std::string(argv[2]) + kPathSeparator;
  if (role == "pid") {
    WriteBytes(folder + "pid", std::to_string(ProcessId()));
    return 0;
  }
  if ((role != "wait" && role != "die") || argc != 4) return 2;
  std::unique_ptr<CrossProcessMutex> mutex =
      DefaultEnv()->NewNamedMutex(argv[3], folder + "test.lock");
  if (role == "wait") {
    const bool held = mutex->TryLock(nullptr) == TryLockResult::kHeld;
    WriteBytes(folder + "waiting", held ? "held" : "free");
    if (!held) return 5;
  }
  if (!mutex->Lock(nullptr)) return 4;
  WriteBytes(folder + "acquired", "");
  if (role == "die") std::_Exit(0);  // the mutex still held
  mutex->Unlock();
  return 0;
}

}  // namespace
}  // namespace testing
}  // namespace vornlink

int main(int argc, char** argv) { return vornlink::testing::Run(argc, argv); }
