// The placeholders of the sample settings (examples/): a site that left one
// in place delivers nowhere, or logs into a folder that is not there.
#ifndef VORNLINK_TOOLS_VORNLINK_CHECK_SAMPLE_PLACEHOLDERS_H_
#define VORNLINK_TOOLS_VORNLINK_CHECK_SAMPLE_PLACEHOLDERS_H_

#include <string_view>
#include <vector>

#include "vornlink/check/settings_lint.h"

namespace vornlink {

// Each line of the settings document that holds one outside a comment, as
// a warning; the placeholder password is not repeated. Pure; any thread.
std::vector<LintFinding> FindSamplePlaceholders(std::string_view document);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CHECK_SAMPLE_PLACEHOLDERS_H_
