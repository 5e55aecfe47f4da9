// The program's exit codes. Every command ends with one of them; what each
// means for a command is in its help (its CommandHelp's exit_status).
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_EXIT_CODES_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_EXIT_CODES_H_

namespace vornlink {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// A transaction handed to the driver is not in the cache: named on
// standard error (HandedOver).
inline constexpr int kExitUnwritten = 3;
// status and deliver: lines are parked (or stuck, or of unknown outcome).
inline constexpr int kExitParked = 3;
// status: a due line is stale; deliver: lines are still due.
inline constexpr int kExitStale = 4;
// status and deliver: the delivery lock cannot be taken.
inline constexpr int kExitNoDelivery = 5;
// deliver: a host's service delivers this cache.
inline constexpr int kExitOtherWorker = 6;

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_EXIT_CODES_H_
