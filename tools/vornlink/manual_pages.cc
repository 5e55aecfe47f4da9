// vornlink_manual_pages: makes the manual page and the bash completion from
// their templates and the program's list of commands, when the program is
// built, so that they name what the program runs.
//   vornlink_manual_pages MAN_TEMPLATE MAN_PAGE COMPLETION_TEMPLATE COMPLETION
// In the manual page's template, a line "@COMMAND_PARAGRAPHS@" becomes the
// paragraph of each command that has one (CommandHelp::manual) with its
// forms, options and exit status, "@HOST_CALLS@" the names of the host's
// calls that have none, and "@METRICS@" the metrics of status --prometheus. In the
// completion's template, "@COMMANDS@" becomes every command's word and a
// line "@COMMAND_WORDS@" the cases of each command's subcommands, the
// options of the command and of each subcommand, and the words an option
// takes (CommandHelp::option_values). Exits 1 naming a file it cannot read or write.
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "vornlink/command_list.h"
#include "vornlink/status/status_facts.h"

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

// `text` as lines the manual prints as they are: a backslash and a minus in
// the manual's markup, a line that would read as a request guarded.
std::string Verbatim(const std::string& text) {
  std::string lines = ".nf\n";
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::string escaped = line.empty() || (line[0] != '.' && line[0] != '\'') ? "" : "\\&";
    for (char c : line) {
      if (c == '\\') {
        escaped += "\\e";
      } else if (c == '-') {
        escaped += "\\-";
      } else {
        escaped += c;
      }
    }
    lines += escaped + "\n";
  }
  return lines + ".fi\n";
}

// Each command's paragraph: what it does, its forms, its options and its
// exit status, as its help prints them.
std::string CommandParagraphs() {
  std::string paragraphs;
  for (const vornlink::Command& command : vornlink::Commands()) {
    const vornlink::CommandHelp& help = *command.help;
    if (help.manual == nullptr) continue;
    std::string forms;
    std::istringstream synopsis(help.synopsis);
    for (std::string line; std::getline(synopsis, line);) {
      forms += (line.empty() || line[0] == ' ' ? "" : "vornlink ") + line + "\n";
    }
    paragraphs +=
        ".TP\n.B " + ManualWord(help.name) + "\n" + help.manual + ".RS\n.PP\n" + Verbatim(forms);
    if (help.options != nullptr && *help.options != '\0') {
      paragraphs += ".PP\n" + Verbatim(help.options);
    }
    if (help.exit_status != nullptr) {
      paragraphs += ".PP\nExit status:\n" + Verbatim(help.exit_status);
    }
    paragraphs += ".RE\n";
  }
  return paragraphs;
}

// The metrics of status --prometheus, each with its help, as it prints them
// for a site whose every part could be read.
std::string Metrics() {
  vornlink::StatusFacts facts;
  facts.cache_read = true;
  facts.log_state = vornlink::LogState::kRead;
  std::ostringstream printed;
  vornlink::PrintStatusPrometheus(facts, printed);
  std::istringstream lines(printed.str());
  std::string metrics;
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, 7, "# HELP ") != 0) continue;
    const size_t name_end = line.find(' ', 7);
    metrics += ".TP\n.B " + ManualWord(line.substr(7, name_end - 7)) + "\n" +
               ManualWord(line.substr(name_end + 1)) + "\n";
  }
  return metrics;
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

const std::regex kOptionWord("--[a-z][a-z-]*");

// Adds each option that `text` names to `options`.
void AddOptions(const std::string& text, std::set<std::string>* options) {
  for (std::sregex_iterator it(text.begin(), text.end(), kOptionWord), end; it != end; ++it) {
    options->insert(it->str());
  }
}

// Every option that the command's help names, as its help prints them.
std::set<std::string> OptionsOf(const vornlink::CommandHelp& help) {
  std::ostringstream text;
  vornlink::PrintCommandHelp(help, text);
  const std::string printed = text.str();
  std::set<std::string> options;
  AddOptions(printed, &options);
  return options;
}

// The options that an upper-case word of the forms brings along, as a
// paragraph of the options text defines it: "LINE is a Trid, ... (--line N
// and --trans-no T say which is meant)."
std::map<std::string, std::set<std::string>> PlaceholderOptions(const char* options_text) {
  static const std::regex kDefinition("^([A-Z]+) is ");
  std::map<std::string, std::set<std::string>> placeholders;
  std::istringstream lines(options_text);
  std::set<std::string>* defined = nullptr;
  std::smatch match;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_search(line, match, kDefinition)) {
      defined = &placeholders[match[1]];
    } else if (line.empty()) {
      defined = nullptr;
    }
    if (defined != nullptr) AddOptions(line, defined);
  }
  return placeholders;
}

// The options of each subcommand (the lower-case word after the command in
// each of its forms): those its form and the lines that continue it name,
// and those its placeholders bring along.
std::map<std::string, std::set<std::string>> SubcommandsOf(const vornlink::CommandHelp& help) {
  const std::regex form("^" + std::string(help.name) + " ([a-z][a-z-]*)");
  static const std::regex kPlaceholder("[A-Z]+");
  const auto placeholders = PlaceholderOptions(help.options);
  std::istringstream lines(help.synopsis);
  std::map<std::string, std::set<std::string>> subcommands;
  std::set<std::string>* options = nullptr;
  std::smatch match;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_search(line, match, form)) {
      options = &subcommands[match[1]];
    } else if (line.empty() || line[0] != ' ') {
      options = nullptr;  // a form without a subcommand
    }
    if (options == nullptr) continue;
    AddOptions(line, options);
    for (std::sregex_iterator it(line.begin(), line.end(), kPlaceholder), end; it != end; ++it) {
      const auto brought = placeholders.find(it->str());
      if (brought != placeholders.end())
        options->insert(brought->second.begin(), brought->second.end());
    }
  }
  return subcommands;
}

// One case of the completion's lookup: `key` gives `words`.
std::string Case(const std::string& key, const std::string& words) {
  return "    \"" + key + "\") echo \"" + words + "\" ;;\n";
}

std::string CompletionCases() {
  std::string cases;
  for (const vornlink::Command& command : vornlink::Commands()) {
    const std::string name = command.help->name;
    const std::set<std::string> options = OptionsOf(*command.help);
    if (!options.empty()) cases += Case("options:" + name, Joined(options));
    const auto subcommands = SubcommandsOf(*command.help);
    std::set<std::string> words;
    for (const auto& [word, its_options] : subcommands) {
      words.insert(word);
      cases += Case("options:" + name + " " + word, Joined(its_options));
    }
    if (!words.empty()) cases += Case("sub:" + name, Joined(words));
    std::istringstream values(command.help->option_values ? command.help->option_values : "");
    for (std::string line; std::getline(values, line);) {
      const size_t blank = line.find(' ');
      if (blank == std::string::npos) continue;
      cases += Case("values:" + name + " " + line.substr(0, blank), line.substr(blank + 1));
    }
  }
  return cases + "    *) return 1 ;;\n";
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
  const bool made = Make(argv[1], argv[2],
                         {{"@COMMAND_PARAGRAPHS@", CommandParagraphs()},
                          {"@HOST_CALLS@", HostCalls()},
                          {"@METRICS@", Metrics()}}) &&
                    Make(argv[3], argv[4],
                         {{"@COMMAND_WORDS@", CompletionCases()}, {"@COMMANDS@", AllCommands()}});
  return made ? 0 : 1;
}
