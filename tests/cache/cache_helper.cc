// A second process for the cache tests:
//   cache_helper <module path> <TransNo prefix> <count>
// adds <count> transactions, TransNo <prefix><i>, to the cache of that module
// through the real platform (the real named mutex included). Exit code 0
// when every add returned 1.
#include <cstdlib>
#include <string>

#include "cache/cache_file.h"
#include "cache_test_support.h"
#include "testing/test_env.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  vornlink::testing::FakeEnv env;  // the real clocks
  env.set_module_path(argv[1]);
  vornlink::SetEnvForTesting(&env);
  int failures = 0;
  for (int i = 0; i < std::atoi(argv[3]); ++i) {
    const std::string trans_no = argv[2] + std::to_string(i);
    failures +=
        vornlink::AddTransaction(vornlink::testing::SampleTransaction(trans_no), "0", "0", "") == 1
            ? 0
            : 1;
  }
  return failures == 0 ? 0 : 1;
}
