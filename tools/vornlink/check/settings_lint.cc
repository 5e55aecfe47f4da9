#include "vornlink/check/settings_lint.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "base/text_lines.h"
#include "exchange/setup_ordinals.h"
#include "settings/read_setting.h"

namespace vornlink {
namespace {

struct Section {
  const char* name;
  // Value names the driver reads in it; empty for a template section.
  std::vector<std::string> values;
  bool template_text;
};

const std::vector<Section>& KnownSections() {
  static const std::vector<Section> sections = {
      {"Log", {"FileName", "MaxLines", "Flags"}, false},
      {"System", {"WoSplit"}, false},
      {"UserID", {}, false},
      {"ForwardTransactionQuery", {}, true},
      {"ForwardTransactionResult",
       {"Result", "Description", "SuccessResult", "RetryResult"},
       false},
      {"IsJobValidQuery", {}, true},
      {"IsJobValidResult", {"Result", "Description", "ValidResult"}, false},
  };
  return sections;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool AllBlank(std::string_view text) { return std::all_of(text.begin(), text.end(), IsBlank); }

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.' || c == ':';
}

bool IsAlnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool StartsWith(std::string_view text, std::string_view head) {
  return text.substr(0, head.size()) == head;
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::string Quoted(std::string_view text) { return "[" + std::string(text) + "]"; }

std::string MaxItemLine() { return std::to_string(kMaxSetupItemLine); }

// The name of an element that `line` opens ("<Name>..." or "<Name attr>"),
// or empty.
std::string OpenedName(std::string_view line) {
  if (line.size() < 3 || line[0] != '<' || !IsNameChar(line[1])) return std::string();
  size_t end = 1;
  while (end < line.size() && IsNameChar(line[end])) ++end;
  return std::string(line.substr(1, end - 1));
}

// Why `line` (leading blanks gone) is not the tag `tag` that it starts
// like, or empty when it is the tag or not like it at all. The driver knows
// a section tag only as the whole line.
std::string NearMissReason(std::string_view line, const std::string& tag) {
  if (line == tag) return std::string();
  const std::string_view stem(tag.data(), tag.size() - 1);  // without '>'
  if (!StartsWith(line, stem) || line.size() == stem.size()) return std::string();
  std::string_view rest = line.substr(stem.size());
  if (rest[0] == '>') {
    return AllBlank(rest.substr(1)) ? "blanks after the tag"
                                    : "more text after the tag on its line";
  }
  if (!IsBlank(rest[0])) return std::string();  // another name, such as <Setup2>
  size_t after = rest.find_first_not_of(" \t");
  if (after == std::string_view::npos) return "a blank after the name, and no '>'";
  if (rest[after] == '>') return "a blank before the '>'";
  return "an attribute in the tag";
}

// The findings of the readers below, in the order they are found; each
// reader is told the number of the line it reads.
class LintReader {
 public:
  explicit LintReader(std::vector<LintFinding>* findings) : findings_(findings) {}
  void SetLineNumber(size_t number) { number_ = number; }

 protected:
  void Problem(size_t line, std::string text) {
    findings_->push_back({line, true, std::move(text)});
  }
  void Warning(size_t line, std::string text) {
    findings_->push_back({line, false, std::move(text)});
  }

  // The number of the line being read.
  size_t number() const { return number_; }

 private:
  std::vector<LintFinding>* findings_;
  size_t number_ = 0;
};

// The sections that ReadSetting reads: their tags, their values and the
// query templates.
class SectionLint : public LintReader {
 public:
  using LintReader::LintReader;

  void SectionLine(std::string_view line, size_t indent) {
    if (current_ != nullptr && current_->template_text) {
      TemplateLine(line, indent);
      return;
    }
    for (const Section& section : KnownSections()) {
      const std::string open = std::string("<") + section.name + ">";
      const std::string close = std::string("</") + section.name + ">";
      if (line == open) {
        Open(section);
        return;
      }
      if (line == close) {
        if (current_ == &section) current_ = nullptr;
        if (cut_off_ == &section) cut_off_ = nullptr;
        return;
      }
      std::string reason = NearMissReason(line, open);
      if (!reason.empty()) {
        Problem(number(), "the driver does not see the section tag " + open + " here (" + reason +
                              "): it reads a section tag only as the whole line");
        return;
      }
      reason = NearMissReason(line, close);
      if (!reason.empty()) {
        Problem(number(), "the driver does not see the closing tag " + close + " here (" + reason +
                              "): for it the section goes on");
        return;
      }
    }
    if (line == "<!--") {
      if (current_ != nullptr) {
        cut_off_ = current_;
        cut_off_line_ = number();
        cut_off_reported_ = false;
      }
      current_ = nullptr;
      return;
    }
    if (current_ != nullptr) {
      ValueLine(line);
    } else if (cut_off_ != nullptr && !cut_off_reported_ && !OpenedName(line).empty()) {
      cut_off_reported_ = true;
      Problem(cut_off_line_, std::string("a line holding only \"<!--\" ends the section <") +
                                 cut_off_->name + "> for the driver: values below it (line " +
                                 std::to_string(number()) +
                                 ") are not read; begin the comment's text on the same line");
    }
  }

 private:
  void Open(const Section& section) {
    current_ = &section;
    cut_off_ = nullptr;
    if (!section.template_text) return;
    first_template_line_ = true;
    if (!templates_seen_.insert(section.name).second) {
      Warning(number(), std::string("a second section <") + section.name +
                            ">: the driver sends both templates one after the other");
    }
  }

  void TemplateLine(std::string_view line, size_t indent) {
    const std::string close = std::string("</") + current_->name + ">";
    if (line == close) {
      current_ = nullptr;
      return;
    }
    if (line == "<!--") {
      Problem(number(), std::string("a line holding only \"<!--\" ends the template <") +
                            current_->name + "> for the driver: the lines below it are not sent");
      current_ = nullptr;
      return;
    }
    std::string reason = NearMissReason(line, close);
    if (!reason.empty()) {
      Problem(number(), "the driver does not see the closing tag " + close + " here (" + reason +
                            "): the rest of the file becomes part of the template");
      return;
    }
    if (first_template_line_) {
      first_template_line_ = false;
      if (line.empty()) {
        Problem(number(),
                "the template begins with an empty line: the driver cuts 3 characters "
                "off the query, here the line break and the first character of the "
                "next line");
      } else if (indent < 2) {
        Problem(number(), "the template's first line is indented by " + std::to_string(indent) +
                              " blank(s): the driver cuts 3 characters off the query, here " +
                              std::to_string(2 - indent) +
                              " of the template's own text; indent it by two blanks");
      } else if (indent > 2) {
        Warning(number(), "the template's first line is indented by " + std::to_string(indent) +
                              " blanks: the query begins with " + std::to_string(indent - 2) +
                              " blank(s); two blanks give none");
      }
    }
    if (line.find("<>") != std::string_view::npos) {
      Problem(number(),
              "a template line holding \"<>\" ends the driver's read of the template "
              "there, and the line is cut");
    } else if (line.find("<!--") != std::string_view::npos) {
      Warning(number(), "a comment inside the template is sent to the DMS as part of the query");
    }
  }

  // A line inside a section of single values.
  void ValueLine(std::string_view line) {
    std::vector<std::string> names;
    const std::string opened = OpenedName(line);
    if (!opened.empty()) names.push_back(opened);
    for (const std::string& name : current_->values) {
      if (name != opened && line.find("<" + name + ">") != std::string_view::npos) {
        names.push_back(name);
      }
    }
    const bool any_name = current_->values.empty();  // UserID: E and a user number
    for (const std::string& name : names) {
      const bool known = any_name || std::find(current_->values.begin(), current_->values.end(),
                                               name) != current_->values.end();
      if (!known) {
        Warning(number(), std::string("the driver reads no value named ") + name + " in <" +
                              current_->name + "> (names are case-sensitive)");
        continue;
      }
      const std::string open = "<" + name + ">";
      const std::string close = "</" + name + ">";
      const bool holds_tag = line.find(open) != std::string_view::npos;
      const bool whole = StartsWith(line, open) && EndsWith(line, close) &&
                         line.size() >= open.size() + close.size();
      auto [first, fresh] =
          value_lines_.emplace(std::string(current_->name) + "/" + name, number());
      if (!holds_tag) {
        // "<Name attr>" or "<Name >": the driver looks for "<Name>".
        if (fresh) value_lines_.erase(first);
        Problem(number(), "the driver does not see the value tag " + open +
                              " here: it looks for the tag without attributes or blanks");
        continue;
      }
      if (!fresh) {
        if (whole) {
          Warning(number(), std::string("a second value for ") + current_->name + "/" + name +
                                ": the driver reads only the first (line " +
                                std::to_string(first->second) + ")");
        }
        continue;
      }
      if (whole) continue;
      std::string reason;
      size_t closing = line.find(close);
      if (!StartsWith(line, open)) {
        reason = OpenedName(line).empty() ? "it is not a value line (a comment?) but holds " + open
                                          : "text before " + open;
      } else if (closing == std::string_view::npos) {
        reason = "no " + close + " at its end (a value must stand on one line)";
      } else {
        reason = AllBlank(line.substr(closing + close.size())) ? "blanks after " + close
                                                               : "text after " + close;
      }
      Problem(number(), std::string("the driver reads ") + current_->name + "/" + name + " as " +
                            Quoted(CutSettingValue(line, name)) + " from this line: " + reason);
    }
  }

  const Section* current_ = nullptr;
  const Section* cut_off_ = nullptr;  // ended by a lone "<!--"
  size_t cut_off_line_ = 0;
  bool cut_off_reported_ = false;
  bool first_template_line_ = false;
  std::set<std::string> templates_seen_;
  std::map<std::string, size_t> value_lines_;  // "Section/Name" -> first line
};

// The Setup section, as LoadSetupOrdinals reads it: its items' tags and
// values.
class SetupLint : public LintReader {
 public:
  using LintReader::LintReader;

  void SetupLine(std::string_view line) {
    if (line.empty()) return;
    if (item_open_) {
      if (IsSetupItemLine(line)) {
        if (item_from_tag_ && collected_.empty()) {
          Problem(item_line_, "Setup item <" + item_name_ + "> gets no value: line " +
                                  std::to_string(number()) + " " + Quoted(line) +
                                  " opens another item for the driver before a <Value> line");
        } else if (item_from_tag_) {
          Problem(number(), "Setup item <" + item_name_ + ">: this line " + Quoted(line) +
                                " inside its value is at most " + MaxItemLine() +
                                " characters long, so the driver takes it for the tag of another "
                                "item and loses <" +
                                item_name_ + ">; make it longer or join it to the line above");
          item_reported_ = true;
          item_name_ = std::string(SetupItemName(line));
          item_from_tag_ = false;
          return;
        }
        OpenItem(line);
        return;
      }
      collected_.emplace_back(number(), std::string(line));
      if (line.find("</Value>") != std::string_view::npos) CloseItem();
      return;
    }
    if (line == "<Setup>") {
      in_setup_ = true;
      return;
    }
    if (line == "</Setup>") {
      in_setup_ = false;
      return;
    }
    for (const char* tag : {"<Setup>", "</Setup>"}) {
      std::string reason = NearMissReason(line, tag);
      if (!reason.empty()) {
        Problem(number(), std::string("the driver does not see the tag ") + tag + " here (" +
                              reason + "): it reads it only as the whole line");
        return;
      }
    }
    if (!in_setup_) return;
    if (IsSpoiltItemTag(line)) {
      Problem(number(),
              "the driver does not see this Setup item tag as written (a blank or an "
              "attribute after the name): write it as <" +
                  OpenedName(line) + "> alone on its line");
      if (IsSetupItemLine(line)) {
        OpenItem(line);
        item_reported_ = true;
      } else {
        orphan_reported_ = true;
      }
      return;
    }
    if (IsSetupItemLine(line)) {
      OpenItem(line);
    } else if (StartsWith(line, "<Value>") && !std::exchange(orphan_reported_, false)) {
      Problem(number(),
              "a <Value> line that belongs to no item for the driver: the item's tag above is "
              "longer than " +
                  MaxItemLine() + " characters or not alone on its line");
    }
  }

  // At the end of the document: an item still open takes no value.
  void End() {
    if (item_open_ && item_from_tag_) {
      Problem(item_line_, "Setup item <" + item_name_ +
                              "> has no </Value> up to the end of the file: the driver takes no "
                              "value for it");
    }
  }

 private:
  // Whether `line` is "<XX>" with a name of letters and digits.
  static bool IsItemTag(std::string_view line) {
    if (line.size() < 3 || line.front() != '<' || line.back() != '>') return false;
    return std::all_of(line.begin() + 1, line.end() - 1, IsAlnum);
  }

  // An item tag with a blank or an attribute after its name, which the
  // driver takes for another name or does not see at all.
  static bool IsSpoiltItemTag(std::string_view line) {
    if (line.size() < 3 || line[0] != '<' || !IsAlnum(line[1])) return false;
    size_t end = 1;
    while (end < line.size() && IsAlnum(line[end])) ++end;
    if (end == line.size()) return false;
    if (line[end] == '>') return end + 1 < line.size() && AllBlank(line.substr(end + 1));
    return IsBlank(line[end]) && line.back() == '>';
  }

  void OpenItem(std::string_view line) {
    item_open_ = true;
    item_reported_ = false;
    orphan_reported_ = false;
    item_line_ = number();
    item_from_tag_ = IsItemTag(line);
    item_name_ = std::string(SetupItemName(line));
  }

  void CloseItem() {
    item_open_ = false;
    std::string collected;
    for (const auto& [number, text] : collected_) collected += text + "\n";
    const std::string value(SetupItemValue(collected));
    const std::string& first = collected_.front().second;
    const std::string& last = collected_.back().second;
    std::string reason;
    if (!StartsWith(first, "<Value>")) {
      reason = "line " + std::to_string(collected_.front().first) + " " + Quoted(first) +
               " stands between the item's tag and <Value>";
    } else if (!EndsWith(last, "</Value>")) {
      reason = AllBlank(last.substr(last.find("</Value>") + 8)) ? "blanks after </Value>"
                                                                : "text after </Value>";
    }
    const size_t value_line = collected_.front().first;
    collected_.clear();
    if (!item_from_tag_) {
      // A comment or other short line took the place of the item's tag.
      if (!item_reported_ && (!reason.empty() || StartsWith(first, "<Value>"))) {
        Problem(value_line, "the value here belongs to no item the driver can use: line " +
                                std::to_string(item_line_) + " " + Quoted("<" + item_name_ + ">") +
                                " (lines of at most " + MaxItemLine() +
                                " characters open Setup items) named it " + Quoted(item_name_));
      }
      return;
    }
    if (!reason.empty()) {
      Problem(value_line, "the driver reads Setup item <" + item_name_ + "> as " + Quoted(value) +
                              ": " + reason);
    }
    auto [earlier, fresh] = items_.emplace(item_name_, item_line_);
    if (!fresh) {
      Warning(item_line_, "Setup item <" + item_name_ + "> again: it replaces the one of line " +
                              std::to_string(earlier->second));
    }
    if (item_name_.size() != 2) {
      Warning(item_line_, "Setup item <" + item_name_ +
                              ">: only names of two letters or digits can be used in templates");
    }
  }

  bool in_setup_ = false;
  bool item_open_ = false;
  bool item_from_tag_ = false;
  bool item_reported_ = false;    // its tag line has had its finding
  bool orphan_reported_ = false;  // so has the next <Value> line's cause
  std::string item_name_;
  size_t item_line_ = 0;
  std::vector<std::pair<size_t, std::string>> collected_;
  std::map<std::string, size_t> items_;
};

}  // namespace

std::vector<LintFinding> LintSettingsDocument(std::string_view document) {
  std::vector<LintFinding> findings;
  SectionLint sections(&findings);
  SetupLint setup(&findings);
  std::vector<std::string_view> lines = SplitLines(document);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    const size_t indent = LineIndent(line);
    std::string_view trimmed = line.substr(indent);
    sections.SetLineNumber(i + 1);
    sections.SectionLine(trimmed, indent);
    setup.SetLineNumber(i + 1);
    setup.SetupLine(trimmed);
  }
  setup.End();
  std::stable_sort(findings.begin(), findings.end(),
                   [](const LintFinding& a, const LintFinding& b) { return a.line < b.line; });
  return findings;
}

std::vector<LintFinding> LintIniFile(std::string_view contents) {
  std::vector<LintFinding> findings;
  std::vector<std::string_view> lines = SplitLines(contents);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos || line[start] == ';' || line[start] == '#' ||
        line[start] == '[') {
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view value = line.substr(equals + 1);
    size_t comment = value.find(';');
    if (comment == std::string_view::npos) continue;
    findings.push_back({i + 1, false,
                        "the value " + Quoted(value) +
                            " holds a \";\": it and what follows are part of the value; put "
                            "comments on lines of their own"});
  }
  return findings;
}

}  // namespace vornlink
