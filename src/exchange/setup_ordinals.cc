#include "exchange/setup_ordinals.h"

#include <string>

#include "base/counted_parts.h"
#include "base/text_lines.h"
#include "platform/env.h"
#include "platform/file_memo.h"
#include "settings/read_setting.h"

namespace vornlink {
namespace {

// "<Value>" in front of a value, "</Value>" and the line feed after it.
constexpr size_t kValueHead = 7;
constexpr size_t kValueTail = 9;

}  // namespace

bool IsSetupItemLine(std::string_view line) {
  return !line.empty() && line.size() <= kMaxSetupItemLine && (line.size() < 2 || line[1] != '/');
}

std::string_view SetupItemName(std::string_view line) {
  return line.size() < 2 ? std::string_view() : line.substr(1, line.size() - 2);
}

std::string_view SetupItemValue(std::string_view collected) {
  // Cut by length, as the value lines are written; a collection too short
  // for both cuts is an empty value.
  if (collected.size() < kValueHead + kValueTail) return std::string_view();
  return collected.substr(kValueHead, collected.size() - kValueHead - kValueTail);
}

void LoadSetupOrdinalsFromText(std::string_view document, ExtFormat* format) {
  bool in_section = false;
  bool item_open = false;
  std::string name;
  std::string collected;
  for (std::string_view line : SplitLines(document)) {
    line.remove_prefix(LineIndent(line));
    if (line.empty()) continue;

    if (item_open) {
      if (IsSetupItemLine(line)) {
        name = std::string(SetupItemName(line));
        continue;
      }
      collected.append(line);
      collected.push_back('\n');
      if (line.find("</Value>") == std::string_view::npos) continue;
      format->AddString(name, SetupItemValue(collected));
      item_open = false;
      collected.clear();
      continue;
    }

    if (line == "<Setup>") {
      in_section = true;
    } else if (line == "</Setup>") {
      in_section = false;
    } else if (in_section && IsSetupItemLine(line)) {
      name = std::string(SetupItemName(line));
      item_open = true;
    }
  }
}

namespace {

// The entries the Setup section of `document` makes, ordinal and text of
// each in turn as counted parts; none for an unreadable file.
std::string SetupEntriesOf(const std::string* document, const std::string& /*question*/) {
  std::string entries;
  if (document == nullptr) return entries;
  ExtFormat setup;
  LoadSetupOrdinalsFromText(*document, &setup);
  for (const ExtFormat::Entry& entry : setup.entries()) {
    AppendCountedPart(entry.ordinal, &entries);
    AppendCountedPart(entry.text, &entries);
  }
  return entries;
}

}  // namespace

void LoadSetupOrdinals(ExtFormat* format) {
  // Every exchange asks; the section is parsed again only when the file
  // changed.
  const std::string entries =
      DerivedFromFile(GetEnv(), SettingsFilePath(), kMaxSettingsFileSize, &SetupEntriesOf, "Setup");
  for (size_t at = 0; at < entries.size();) {
    const std::string_view ordinal = TakeCountedPart(entries, &at);
    format->AddString(ordinal, TakeCountedPart(entries, &at));
  }
}

}  // namespace vornlink
