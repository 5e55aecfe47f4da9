// profile_probe CASE_DIR LIST OUT: answers every query of LIST (see
// profile_cases.h) with this platform's private-profile read -- the system's
// own on Windows, the driver's reader elsewhere -- and writes the list with
// those answers as fifth fields to OUT. Run under Wine, its output is the
// record of what Windows answers; the parity script compares the two
// platforms' outputs.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/profile_cases.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: profile_probe CASE_DIR LIST OUT\n";
    return 2;
  }
  const std::string case_dir = argv[1];
  std::ifstream in(argv[2], std::ios::binary);
  if (!in) {
    std::cerr << "profile_probe: cannot read " << argv[2] << "\n";
    return 1;
  }
  std::ostringstream text;
  text << in.rdbuf();

  std::vector<vornlink::testing::CaseLine> lines;
  std::string error;
  if (!vornlink::testing::ParseCaseList(text.str(), &lines, &error)) {
    std::cerr << "profile_probe: " << argv[2] << ": " << error << "\n";
    return 1;
  }
  std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
  vornlink::Env* env = vornlink::DefaultEnv();
  for (const vornlink::testing::CaseLine& line : lines) {
    if (!line.is_query) {
      out << line.comment << "\n";
      continue;
    }
    const vornlink::testing::ProfileQuery& query = line.query;
    std::string answer = env->ReadProfileString(query.section, query.key, query.default_value,
                                                case_dir + vornlink::kPathSeparator + query.file);
    out << vornlink::testing::FormatQueryLine(query, answer) << "\n";
  }
  out.close();
  if (!out) {
    std::cerr << "profile_probe: cannot write " << argv[3] << "\n";
    return 1;
  }
  return 0;
}
