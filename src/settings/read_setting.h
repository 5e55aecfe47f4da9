// Values of the XML settings document, read as lines of text.
//
// The document is not parsed as XML: a fixed line rule finds a value. For the
// path "R/A/B" the value is the first line inside a section A (a line that is
// just "<A>", closed by "</A>" or "<!--") that holds "<B>", with as many
// characters cut from its front as "<B>" has and from its end as "</B>" has.
// For "R/A" it is every line of every section A, each with one blank more in
// front than it had blanks and tabs, and a line feed after it. The first
// segment is not looked at; segments after the third are not used.
//
// Nothing is cached: the file is read afresh on every call. Thread-safe.
#ifndef VORNLINK_SETTINGS_READ_SETTING_H_
#define VORNLINK_SETTINGS_READ_SETTING_H_

#include <string>
#include <string_view>

namespace vornlink {

// The value of `path` in the file `file_name`; empty when the file cannot be
// read or holds no such value.
std::string ReadSetting(std::string_view path, const std::string& file_name);

// The same over a document already in memory.
std::string ReadSettingFromText(std::string_view path, std::string_view document);

// What a value line (its indent removed) gives for the value name `name`:
// the line without as many characters in front as "<name>" has and at its
// end as "</name>" has; empty when it is shorter than both.
std::string_view CutSettingValue(std::string_view line, std::string_view name);

// The XML settings document beside the module.
std::string SettingsFilePath();

// `ReadSetting` on the settings document beside the module.
std::string ReadDriverSetting(std::string_view path);

}  // namespace vornlink

#endif  // VORNLINK_SETTINGS_READ_SETTING_H_
