// A fixture for the tests of the program's commands: runs one and keeps what it wrote.
#ifndef VORNLINK_TESTS_TOOLS_COMMAND_TEST_H_
#define VORNLINK_TESTS_TOOLS_COMMAND_TEST_H_

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace vornlink {
namespace testing {

class CommandTest : public ::testing::Test {
 protected:
  // Runs `command` (one of the Run...Command functions) for the module `module_path`: its exit
  // status; out_ holds what it wrote to its output, then to its error stream.
  template <typename Command>
  int Run(Command command, const std::string& module_path, const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = command(module_path, args, out, err);
    out_ = out.str() + err.str();
    return status;
  }
  bool Says(const std::string& text) const { return out_.find(text) != std::string::npos; }
  // Whether a command exited with `status` (got: `got`) and wrote each of `texts`, and none of
  // those written "!text"; else what differed, and all it wrote.
  ::testing::AssertionResult Gave(int got, int status, const std::vector<std::string>& texts = {}) {
    std::string wrong = got == status ? "" : "exit status " + std::to_string(got) + "\n";
    for (const std::string& text : texts) {
      const bool absent = text.rfind('!', 0) == 0;
      if (Says(text.substr(absent ? 1 : 0)) == absent) wrong += "wrong: " + text + "\n";
    }
    if (wrong.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << wrong << "in:\n" << out_;
  }

  std::string out_;
};

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_TOOLS_COMMAND_TEST_H_
