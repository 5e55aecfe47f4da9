// The program's terminal: whether a person watches its output, and the
// requests of the terminal and the system to end the program.
#ifndef VORNLINK_PLATFORM_TERMINAL_H_
#define VORNLINK_PLATFORM_TERMINAL_H_

#include <cstdint>

namespace vornlink {

// Whether the program's standard output is a terminal (a console on
// Windows) that a person watches, rather than a file or a pipe: progress
// lines are only for the first.
bool StandardOutputIsTerminal();

// Whether the program's standard input is a terminal that a person types
// at, so that a question can be asked there.
bool StandardInputIsTerminal();

// What asked the program to end.
enum class EndRequest {
  kNone,
  kInterrupt,  // Ctrl+C or Ctrl+Break, SIGINT, SIGTERM
  kHangUp,     // SIGHUP: the terminal closed (an SSH session that dropped)
  kClose,      // Windows: the console closes, the user logs off or the
               // system shuts down; the process ends soon after
};

// How long the handler of a close holds the process for the program to stop
// in order: Windows ends it about 5 s after the event, or as soon as the
// handler returns.
inline constexpr uint32_t kCloseHoldMs = 4500;

// While it lives, the requests of the terminal and the system to end the
// program are noted instead, for the program to stop in order, and a closed
// output does not end the process: a write to it fails instead. POSIX:
// SIGINT, SIGTERM and SIGHUP are caught, and SIGPIPE too (so that programs
// started meanwhile get its default back with their start). Windows: the
// console's control events; the handler of a close, logoff or shutdown
// returns (and lets the system end the process) once Release is called,
// at the latest kCloseHoldMs after the event. The handling before it is
// restored at its end. One at a time; made and ended on one thread, while
// every other method may be called from any thread.
class EndRequestWatch {
 public:
  EndRequestWatch();
  ~EndRequestWatch();  // releases a held close first
  EndRequestWatch(const EndRequestWatch&) = delete;
  EndRequestWatch& operator=(const EndRequestWatch&) = delete;

  // The first request since the watch began, kNone while there was none.
  EndRequest requested() const;
  // After a kClose: the milliseconds left of its hold (0 once it ran out).
  uint32_t HoldLeftMs() const;
  // What had to be done before the process ends is done: a held close
  // returns.
  void Release();
};

// For tests: delivers `request` as the system would while an
// EndRequestWatch lives (POSIX: raises its signal; Windows: runs the
// console handler on the calling thread, which a close holds) and returns
// when its handler returns: true when a close was released in time.
bool DeliverEndRequestForTesting(EndRequest request);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_TERMINAL_H_
