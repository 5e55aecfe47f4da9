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
    // "-m=PATH", as "--module=PATH".
    if (word.size() > 2 && word[0] == '-' && IsOptionNameCharacter(word[1]) && word[1] != '-' &&
        word[2] == '=') {
      split.push_back(word.substr(0, 2));
      split.push_back(word.substr(3));
      continue;
    }
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

std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word.push_back(c);
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

std::vector<std::string> SplitCsv(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t comma = line.find(',', start);
    fields.push_back(line.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

}  // namespace vornlink
