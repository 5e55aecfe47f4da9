// Lines of the XML settings document that the driver's line readers take
// otherwise than their author meant: the driver does not parse XML, it
// matches whole lines (see settings/read_setting.h and
// exchange/setup_ordinals.h), so a blank after a tag, an attribute or a
// comment in the wrong place silently changes what it reads.
#ifndef VORNLINK_TOOLS_VORNLINK_CHECK_SETTINGS_LINT_H_
#define VORNLINK_TOOLS_VORNLINK_CHECK_SETTINGS_LINT_H_

#include <string>
#include <string_view>
#include <vector>

namespace vornlink {

struct LintFinding {
  size_t line = 0;      // 1-based, as the driver counts lines
  bool problem = true;  // false: a warning, the driver still works
  std::string text;
};

// Everything found in `document`, in line order. Looks at the sections the
// driver reads: Log, System, UserID, the two query templates, the two
// result sections and Setup. Pure; any thread.
std::vector<LintFinding> LintSettingsDocument(std::string_view document);

// Values of the INI file that hold a comment: the platform's INI read
// keeps a ";" after a value, and what follows, as part of the value.
std::vector<LintFinding> LintIniFile(std::string_view contents);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CHECK_SETTINGS_LINT_H_
