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

  std::string out_;
};

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_TOOLS_COMMAND_TEST_H_
