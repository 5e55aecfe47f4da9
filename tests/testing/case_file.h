// Tables of cases kept in text files beside the tests. A case starts with a line
// "@ field | field ..." ("@" alone: no fields); the lines after it, up to the next case, are its
// body, each with a line feed unless it ends in a lone '\'. Lines that start with '#' are
// comments. Fields and bodies take the escapes "\\", "\t", "\r", "\n" and "\xHH".
#ifndef VORNLINK_TESTS_TESTING_CASE_FILE_H_
#define VORNLINK_TESTS_TESTING_CASE_FILE_H_

#include <sstream>
#include <string>
#include <vector>

#include "testing/test_env.h"

namespace vornlink::testing {

// `text` with its escapes undone.
inline std::string Unescape(const std::string& text) {
  std::string raw;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] == '\\' && i + 1 < text.size() ? text[++i] : '\0';
    if (c == 'x') {
      raw += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      raw += c == '\0' ? text[i] : c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    }
  }
  return raw;
}

struct TextCase {
  std::vector<std::string> fields;
  std::string body;
  std::string where;  // "file:line" of its "@" line
};

// The cases of the file `name` in `folder`; none when it cannot be read.
inline std::vector<TextCase> ReadCases(const std::string& folder, const std::string& name) {
  std::vector<TextCase> cases;
  std::istringstream text(ReadBytes(folder + "/" + name));
  int number = 0;
  for (std::string line; std::getline(text, line);) {
    ++number;
    if (line.rfind('#', 0) == 0) continue;
    if (line == "@" || line.rfind("@ ", 0) == 0) {
      cases.push_back({{}, "", name + ":" + std::to_string(number)});
      if (line == "@") continue;
      // Padded, so that the separator also finds an empty first or last field.
      const std::string fields = " " + line.substr(2) + " ";
      for (size_t at = 0, bar = 0; bar != std::string::npos; at = bar + 3) {
        bar = fields.find(" | ", at);
        cases.back().fields.push_back(fields.substr(at, bar - at));
      }
      cases.back().fields.front().erase(0, 1);
      std::string& last = cases.back().fields.back();
      if (!last.empty()) last.pop_back();
      for (std::string& field : cases.back().fields) field = Unescape(field);
    } else if (!cases.empty()) {
      const bool joined = !line.empty() && line.back() == '\\' &&
                          (line.size() < 2 || line[line.size() - 2] != '\\');
      cases.back().body += Unescape(joined ? line.substr(0, line.size() - 1) : line + "\\n");
    }
  }
  return cases;
}

// The first field of each case of the file: texts that a test looks for. A file without a case
// gives one text that says so, which no output holds.
inline std::vector<std::string> ReadTexts(const std::string& folder, const std::string& name) {
  std::vector<std::string> texts;
  for (const TextCase& c : ReadCases(folder, name)) texts.push_back(c.fields.at(0));
  if (texts.empty()) texts.push_back("(no case in " + name + ")");
  return texts;
}

}  // namespace vornlink::testing

#endif  // VORNLINK_TESTS_TESTING_CASE_FILE_H_
