// The text exposition format that monitoring agents collect from files
// (the textfile collectors of the Linux and Windows node exporters): each
// metric family's HELP and TYPE lines before its samples, one sample per
// line, "name{label="value",...} number".
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_PROMETHEUS_TEXT_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_PROMETHEUS_TEXT_H_

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vornlink {

using MetricLabels = std::vector<std::pair<std::string, std::string>>;

// `value` as a label value, quotes included: a backslash, a double quote
// and a line feed escaped as the format asks; a control character or a
// byte that is no part of well-formed UTF-8 becomes "?" (the format has no
// escape for it, and a collector refuses a file that holds one).
// Thread-safe; never fails.
std::string MetricLabelValue(std::string_view value);

// Writes metric families to `out`. `common` labels go on every sample,
// before the sample's own. Names are the caller's constants
// ([a-zA-Z_:][a-zA-Z0-9_:]*). Writes to `out`, which it does not own and
// which must outlive it; the stream's errors stay the caller's. Not
// thread-safe.
class PrometheusText {
 public:
  PrometheusText(std::ostream& out, MetricLabels common) : out_(out), common_(std::move(common)) {}

  // Starts the family `name` of `type` ("gauge", "counter", ...): its HELP
  // and TYPE lines.
  void Family(const std::string& name, const char* type, std::string_view help);
  // One sample of the family last started.
  void Sample(int64_t value, const MetricLabels& labels = {});

 private:
  std::ostream& out_;
  const MetricLabels common_;
  std::string name_;
};

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_PROMETHEUS_TEXT_H_
