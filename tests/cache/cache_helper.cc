// A second process for the cache tests. It works on the cache of a module
// whose path it is given, through the real platform otherwise (the real
// named mutex included).
//
//   cache_helper add <module path> <TransNo prefix> <count>
//     Adds <count> transactions, TransNo <prefix><i>. Exit code 0 when every
//     add returned 1.
//   cache_helper churn <module path> <seed>
//     Writes "R" to standard output, then loops until killed: removes a line
//     whose TransNo starts with "drop-" (DeleteTrid) or moves any other line
//     to the end (RequeueReplacing with Status "2" and Message "moved"), and
//     writes "." after each finished step. Exit code 0 when it ran out of
//     lines.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cache/cache_file.h"
#include "cache_test_support.h"
#include "platform/env.h"

namespace vornlink {
namespace {

class ModuleEnv : public EnvWrapper {
 public:
  explicit ModuleEnv(std::string module_path)
      : EnvWrapper(DefaultEnv()), module_path_(std::move(module_path)) {}
  std::string ModulePath() override { return module_path_; }

 private:
  std::string module_path_;
};

int Add(const std::string& prefix, int count) {
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    if (AddTransaction(testing::SampleTransaction(prefix + std::to_string(i)), "0", "0", "") != 1) {
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}

void Signal(char c) {
  std::fputc(c, stdout);
  std::fflush(stdout);
}

int Churn(unsigned seed) {
  std::mt19937 random(seed);
  Signal('R');
  for (;;) {
    std::vector<CacheRecord> drops;
    std::vector<CacheRecord> keeps;
    CacheRecord record;
    for (int i = 0; GetCacheIndex(i, &record) == 1; ++i) {
      (record.trans_no().rfind("drop-", 0) == 0 ? drops : keeps).push_back(record);
    }
    if (drops.empty() && keeps.empty()) return 0;
    if (!drops.empty() && (keeps.empty() || random() % 2 == 0)) {
      DeleteTrid(drops[random() % drops.size()].trid());
    } else {
      CacheRecord moved = keeps[random() % keeps.size()];
      moved.fields[CacheRecord::kStatus] = "2";
      moved.fields[CacheRecord::kMessage] = "moved";
      RequeueReplacing(moved);
    }
    Signal('.');
  }
}

}  // namespace
}  // namespace vornlink

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string command = argv[1];
  vornlink::ModuleEnv env(argv[2]);
  vornlink::SetEnvForTesting(&env);
  if (command == "add" && argc == 5) return vornlink::Add(argv[3], std::atoi(argv[4]));
  if (command == "churn" && argc == 4) {
    return vornlink::Churn(static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)));
  }
  return 2;
}
