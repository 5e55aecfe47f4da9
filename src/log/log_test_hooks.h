// What only tests call of the log: no program of the driver needs it.
#ifndef VORNLINK_LOG_LOG_TEST_HOOKS_H_
#define VORNLINK_LOG_LOG_TEST_HOOKS_H_

namespace vornlink {

// Forgets every setting and count of the log, as at load. Only while
// nothing logs.
void ResetLogForTesting();

}  // namespace vornlink

#endif  // VORNLINK_LOG_LOG_TEST_HOOKS_H_
