// A program a test starts and may kill at any moment (SIGKILL; TerminateProcess on Windows, with
// whatever it started), as a crash or a power cut would end a host.
#ifndef VORNLINK_TESTS_TESTING_CHILD_PROCESS_H_
#define VORNLINK_TESTS_TESTING_CHILD_PROCESS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vornlink {
namespace testing {

class ChildProcess {
 public:
  // Starts `program` with `args`, its output and errors appended to `output_file`; null if not.
  static std::unique_ptr<ChildProcess> Start(const std::string& program,
                                             const std::vector<std::string>& args,
                                             const std::string& output_file);
  ~ChildProcess();  // kills it unless it has ended

  // Under Wine a program whose starter is killed while it starts it hangs in its own start for
  // good, out of the Wine server's reach (seen with the host's GUI program, which a host starts
  // with its service): the programs started after this call search only the system folder for
  // programs, and find no host GUI program ("kmrgui"), so that a host killed at any moment leaves
  // nothing behind. Elsewhere it does nothing: a killed host's GUI program starts or not, and ends.
  static void HideGuiProgramFromChildren();

  void Kill();
#ifndef _WIN32
  void Signal(int signal);  // sends `signal` to it
#endif
  // Waits for the end; its exit code, or -1 when it did not exit by itself.
  int Wait();

 private:
  explicit ChildProcess(intptr_t handle) : handle_(handle) {}
  intptr_t handle_;   // pid, or the process handle on Windows
  intptr_t job_ = 0;  // Windows: the job of the program and what it starts
  bool ended_ = false;
  int exit_code_ = -1;
};

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_TESTING_CHILD_PROCESS_H_
