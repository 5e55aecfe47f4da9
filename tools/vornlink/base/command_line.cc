#include "vornlink/base/command_line.h"

namespace vornlink {
namespace {

bool IsOptionNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

}  // namespace

std::vector<std::string> SplitOptionValues(const std::vector<std::string>& words) {
  std::vector<std::string> split;
  for (const std::string& word : words) {
    const size_t equals = word.find('=');
    bool option = word.size() > 2 && word.compare(0, 2, "--") == 0 && equals != std::string::npos &&
                  equals > 2;
    for (size_t i = 2; option && i < equals; ++i) option = IsOptionNameCharacter(word[i]);
    if (!option) {
      split.push_back(word);
      continue;
    }
    split.push_back(word.substr(0, equals));
    split.push_back(word.substr(equals + 1));
  }
  return split;
}

CommandLine ReadCommandLine(const std::vector<std::string>& words) {
  CommandLine line;
  for (const std::string& word : SplitOptionValues(words)) {
    if (word == "-q" || word == "--quiet") {
      line.quiet = true;
    } else if (word == "--help" || word == "-h") {
      line.help = true;
    } else {
      line.words.push_back(word);
    }
  }
  if (!line.words.empty() && line.words[0] == "help") {
    line.help = true;
    line.words.erase(line.words.begin());
  }
  return line;
}

}  // namespace vornlink
