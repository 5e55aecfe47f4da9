// vornlink_manual_pages: makes the manual page and the bash completion from
// their templates and the program's list of commands, when the program is
// built, so that they name what the program runs.
//   vornlink_manual_pages MAN_TEMPLATE MAN_PAGE COMPLETION_TEMPLATE COMPLETION
// In the manual page's template, a line "@COMMAND_PARAGRAPHS@" becomes the
// paragraph of each command that has one (CommandHelp::manual), and
// "@HOST_CALLS@" the names of the host's calls that have none. In the
// completion's template, "@COMMANDS@" becomes every command's word and a
// line "@COMMAND_WORDS@" the cases of each command's subcommands and
// options. Exits 1 naming a file it cannot read or write.
#include <fstream>
#include <iostream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "vornlink/command_list.h"

namespace {

// `text` with each '-' as the manual's markup writes a minus.
std::string ManualWord(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '-') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::string CommandParagraphs() {
  std::string paragraphs;
  for (const vornlink::Command& command : vornlink::Commands()) {
    if (command.help->manual == nullptr) continue;
    paragraphs += ".TP\n.B " + ManualWord(command.help->name) + "\n" + command.help->manual;
  }
  return paragraphs;
}

// "start\fR, \fBstop ...": bold names, plain commas, within one .B line.
std::string HostCalls() {
  std::string names;
  for (const vornlink::Command& command : vornlink::Commands()) {
    if (command.help->manual != nullptr) continue;
    if (!names.empty()) names += "\\fR, \\fB";
    names += ManualWord(command.help->name);
  }
  return names;
}

// The words of a set, sorted, blank between.
std::string Joined(const std::set<std::string>& words) {
  std::string joined;
  for (const std::string& word : words) joined += (joined.empty() ? "" : " ") + word;
  return joined;
}

std::string AllCommands() {
  std::set<std::string> names;
  for (const vornlink::Command& command : vornlink::Commands()) names.insert(command.help->name);
  return Joined(names);
}

// Every option that the command's help names, as its help prints them.
std::set<std::string> OptionsOf(const vornlink::CommandHelp& help) {
  std::ostringstream text;
  vornlink::PrintCommandHelp(help, text);
  const std::string printed = text.str();
  static const std::regex kOption("--[a-z][a-z-]*");
  std::set<std::string> options;
  for (std::sregex_iterator it(printed.begin(), printed.end(), kOption), end; it != end; ++it) {
    options.insert(it->str());
  }
  return options;
}

// The lower-case word after the command in each of its forms.
std::set<std::string> SubcommandsOf(const vornlink::CommandHelp& help) {
  const std::regex form("^" + std::string(help.name) + " ([a-z][a-z-]*)");
  std::istringstream lines(help.synopsis);
  std::set<std::string> words;
  std::smatch match;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_search(line, match, form)) words.insert(match[1]);
  }
  return words;
}

std::string CompletionCases() {
  std::string cases;
  for (const vornlink::Command& command : vornlink::Commands()) {
    const std::string name = command.help->name;
    const std::set<std::string> options = OptionsOf(*command.help);
    const std::set<std::string> subcommands = SubcommandsOf(*command.help);
    if (!options.empty())
      cases += "    options:" + name + ") echo \"" + Joined(options) + "\" ;;\n";
    if (!subcommands.empty()) {
      cases += "    sub:" + name + ") echo \"" + Joined(subcommands) + "\" ;;\n";
    }
  }
  return cases + "    *) ;;\n";
}

// Replaces each `mark` in `text`; a mark alone on its line takes the line
// (`with` brings its own line ends).
void Fill(std::string* text, const std::string& mark, const std::string& with) {
  const std::string line = mark + "\n";
  for (size_t at = text->find(line); at != std::string::npos; at = text->find(line, at)) {
    if (at == 0 || (*text)[at - 1] == '\n') {
      text->replace(at, line.size(), with);
      at += with.size();
    } else {
      at += line.size();
    }
  }
  for (size_t at = text->find(mark); at != std::string::npos; at = text->find(mark, at)) {
    text->replace(at, mark.size(), with);
    at += with.size();
  }
}

bool Make(const std::string& from, const std::string& to,
          const std::vector<std::pair<std::string, std::string>>& marks) {
  std::ifstream in(from, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) {
    std::cerr << "vornlink_manual_pages: cannot read " << from << "\n";
    return false;
  }
  std::string made = text.str();
  for (const auto& [mark, with] : marks) Fill(&made, mark, with);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << made;
  out.close();
  if (!out) {
    std::cerr << "vornlink_manual_pages: cannot write " << to << "\n";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: vornlink_manual_pages MAN_TEMPLATE MAN_PAGE COMPLETION_TEMPLATE "
                 "COMPLETION\n";
    return 2;
  }
  const bool made =
      Make(argv[1], argv[2],
           {{"@COMMAND_PARAGRAPHS@", CommandParagraphs()}, {"@HOST_CALLS@", HostCalls()}}) &&
      Make(argv[3], argv[4],
           {{"@COMMAND_WORDS@", CompletionCases()}, {"@COMMANDS@", AllCommands()}});
  return made ? 0 : 1;
}
