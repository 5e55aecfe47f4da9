// profile_probe CASE_DIR LIST OUT: answers every query of LIST (see
// profile_cases.h) with this platform's private-profile read -- the system's
// own on Windows, the driver's reader elsewhere -- and writes the list with
// those answers as fifth fields to OUT. Run under Wine, its output is the
// record of what Windows answers; the parity script compares the two
// platforms' outputs.
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/profile_cases.h"
#include "testing/test_env.h"

int main(int argc, char** argv) {
  namespace testing = vornlink::testing;
  if (argc != 4) {
    std::cerr << "usage: profile_probe CASE_DIR LIST OUT\n";
    return 2;
  }
  std::vector<testing::CaseLine> lines;
  std::string error = "cannot read it";
  if (!testing::FileExists(argv[2]) ||
      !testing::ParseCaseList(testing::ReadBytes(argv[2]), &lines, &error)) {
    std::cerr << "profile_probe: " << argv[2] << ": " << error << "\n";
    return 1;
  }
  std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
  for (const testing::CaseLine& line : lines) {
    if (!line.is_query) {
      out << line.comment << "\n";
      continue;
    }
    const testing::ProfileQuery& query = line.query;
    const std::string answer = vornlink::DefaultEnv()->ReadProfileString(
        query.section, query.key, query.default_value,
        argv[1] + std::string(1, vornlink::kPathSeparator) + query.file);
    out << testing::FormatQueryLine(query, answer) << "\n";
  }
  out.close();
  if (!out) std::cerr << "profile_probe: cannot write " << argv[3] << "\n";
  return out ? 0 : 1;
}
