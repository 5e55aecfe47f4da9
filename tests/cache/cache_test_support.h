// Helpers shared by the cache tests: a fixed moment, sample transactions,
// files as the disk holds them, and the helper program (cache_helper) that
// adds to a cache from another process.
#ifndef VORNLINK_TESTS_CACHE_CACHE_TEST_SUPPORT_H_
#define VORNLINK_TESTS_CACHE_CACHE_TEST_SUPPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "cache/cache_record.h"

namespace vornlink {
namespace testing {

// 2014-03-07 09:05:02 in the machine's own zone, whatever that is.
int64_t LocalMoment();

// A transaction of plausible values with `trans_no` as its TransNo.
TransactionFields SampleTransaction(const std::string& trans_no);

// The lines of the file at `path`, without their line ends.
std::vector<std::string> DiskLines(const std::string& path);

// Starts the helper program (cache_helper, beside the running test program)
// with `args`. Returns its pid (its process handle on Windows), or -1.
intptr_t StartHelper(const std::vector<std::string>& args);

// Waits for a started helper to end. Its exit code, or -1 when it did not
// end normally.
int WaitForHelper(intptr_t process);

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_CACHE_CACHE_TEST_SUPPORT_H_
