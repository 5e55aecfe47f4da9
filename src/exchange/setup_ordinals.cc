#include "exchange/setup_ordinals.h"

#include <string>

#include "platform/env.h"
#include "settings/read_setting.h"
#include "settings/text_lines.h"

namespace vornlink {
namespace {

// Item lines are at most this long: a tag of ten characters and its "<>".
constexpr size_t kMaxItemLine = 12;
// "<Value>" in front of a value, "</Value>" and the line feed after it.
constexpr size_t kValueHead = 7;
constexpr size_t kValueTail = 9;

bool IsItemLine(std::string_view line) {
  return !line.empty() && line.size() <= kMaxItemLine && (line.size() < 2 || line[1] != '/');
}

std::string_view ItemName(std::string_view line) {
  return line.size() < 2 ? std::string_view() : line.substr(1, line.size() - 2);
}

}  // namespace

void LoadSetupOrdinalsFromText(std::string_view document, ExtFormat* format) {
  bool in_section = false;
  bool item_open = false;
  std::string name;
  std::string collected;
  for (std::string_view line : SplitLines(document)) {
    size_t indent = 0;
    while (indent < line.size() && (line[indent] == ' ' || line[indent] == '\t')) ++indent;
    line.remove_prefix(indent);
    if (line.empty()) continue;

    if (item_open) {
      if (IsItemLine(line)) {
        name = std::string(ItemName(line));
        continue;
      }
      collected.append(line);
      collected.push_back('\n');
      if (line.find("</Value>") == std::string_view::npos) continue;
      // Cut by length, as the value lines are written; a collection too
      // short for both cuts is an empty value.
      std::string_view value;
      if (collected.size() >= kValueHead + kValueTail) {
        value = std::string_view(collected).substr(kValueHead,
                                                   collected.size() - kValueHead - kValueTail);
      }
      format->AddString(name, value);
      item_open = false;
      collected.clear();
      continue;
    }

    if (line == "<Setup>") {
      in_section = true;
    } else if (line == "</Setup>") {
      in_section = false;
    } else if (in_section && IsItemLine(line)) {
      name = std::string(ItemName(line));
      item_open = true;
    }
  }
}

void LoadSetupOrdinals(ExtFormat* format) {
  std::string document;
  if (GetEnv()->ReadTextFile(SettingsFilePath(), &document, kMaxSettingsFileSize, nullptr) !=
      ReadResult::kOk)
    return;
  LoadSetupOrdinalsFromText(document, format);
}

}  // namespace vornlink
