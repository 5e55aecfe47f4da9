// Whether the program's standard output is a terminal (a console on
// Windows) that a person watches, rather than a file or a pipe: progress
// lines are only for the first.
#ifndef VORNLINK_PLATFORM_TERMINAL_H_
#define VORNLINK_PLATFORM_TERMINAL_H_

namespace vornlink {

bool StandardOutputIsTerminal();

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_TERMINAL_H_
