#include "settings/read_setting.h"

#include <vector>

#include "base/text_lines.h"
#include "platform/env.h"
#include "platform/file_memo.h"
#include "settings/module_files.h"

namespace vornlink {
namespace {

// The second and third segments of a slash path ("" where missing).
void SectionAndValueNames(std::string_view path, std::string_view* section, std::string_view* value,
                          bool* whole_section) {
  std::vector<std::string_view> segments;
  size_t start = 0;
  while (segments.size() < 3) {
    size_t slash = path.find('/', start);
    segments.push_back(path.substr(start, slash == std::string_view::npos ? slash : slash - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  *section = segments.size() > 1 ? segments[1] : std::string_view();
  *value = segments.size() > 2 ? segments[2] : std::string_view();
  *whole_section = segments.size() < 3;
}

// ReadSetting's value of `path` in the document (empty when unreadable).
std::string SettingFromDocument(const std::string* document, const std::string& path) {
  return ReadSettingFromText(path, document != nullptr ? *document : std::string_view());
}

}  // namespace

std::string_view CutSettingValue(std::string_view line, std::string_view name) {
  // Both tags are cut by length, not compared.
  const size_t open = name.size() + 2;
  const size_t close = name.size() + 3;
  if (line.size() < open + close) return std::string_view();
  return line.substr(open, line.size() - open - close);
}

std::string ReadSettingFromText(std::string_view path, std::string_view document) {
  std::string_view section_name, value_name;
  bool whole_section = false;
  SectionAndValueNames(path, &section_name, &value_name, &whole_section);
  const std::string section_open = "<" + std::string(section_name) + ">";
  const std::string section_close = "</" + std::string(section_name) + ">";
  const std::string value_open = "<" + std::string(value_name) + ">";

  std::string collected;
  bool inside = false;
  for (std::string_view line : SplitLines(document)) {
    const size_t indent = LineIndent(line);
    std::string_view trimmed = line.substr(indent);
    if (trimmed == section_open) {
      inside = true;
      continue;
    }
    if (trimmed == section_close || trimmed == "<!--") {
      inside = false;
      continue;
    }
    if (!inside) continue;
    if (trimmed.find(value_open) != std::string_view::npos) {
      return std::string(CutSettingValue(trimmed, value_name));
    }
    if (whole_section) {
      collected.append(indent + 1, ' ');
      collected.append(trimmed);
      collected.push_back('\n');
    }
  }
  return collected;
}

std::string ReadSetting(std::string_view path, const std::string& file_name) {
  return DerivedFromFile(GetEnv(), file_name, kMaxSettingsFileSize, &SettingFromDocument,
                         std::string(path));
}

std::string SettingsFilePath() { return ModuleFileWithExtension("xml"); }

std::string ReadDriverSetting(std::string_view path) {
  return ReadSetting(path, SettingsFilePath());
}

}  // namespace vornlink
