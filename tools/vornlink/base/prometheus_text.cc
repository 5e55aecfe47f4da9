#include "vornlink/base/prometheus_text.h"

#include <ostream>

#include "vornlink/base/filtered_stream.h"

namespace vornlink {

std::string MetricLabelValue(std::string_view value) {
  std::string text = "\"";
  ForEachCharacter(value, [&text](char32_t code, std::string_view bytes, bool well_formed) {
    if (code == '\\' || code == '"') {
      text.push_back('\\');
      text.push_back(static_cast<char>(code));
    } else if (code == '\n') {
      text.append("\\n");
    } else if (!well_formed || code < 0x20 || (code >= 0x7F && code < 0xA0)) {
      text.push_back('?');
    } else {
      text.append(bytes);
    }
  });
  return text + "\"";
}

void PrometheusText::Family(const std::string& name, const char* type, std::string_view help) {
  name_ = name;
  std::string escaped;
  for (char c : help) escaped += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
  out_ << "# HELP " << name << " " << escaped << "\n# TYPE " << name << " " << type << "\n";
}

void PrometheusText::Sample(int64_t value, const MetricLabels& labels) {
  out_ << name_;
  const char* separator = "{";
  for (const MetricLabels* set : {&common_, &labels}) {
    for (const auto& [label, text] : *set) {
      out_ << separator << label << "=" << MetricLabelValue(text);
      separator = ",";
    }
  }
  out_ << (*separator == ',' ? "} " : " ") << value << "\n";
}

}  // namespace vornlink
