#include "vornlink/check_report.h"

#include <ostream>

#include "vornlink/commands.h"
#include "vornlink/text_output.h"

namespace vornlink {
namespace {

constexpr size_t kLabelWidth = 22;

}  // namespace

void CheckReport::Heading(const std::string& title) { out_ << "\n== " << title << "\n"; }

void CheckReport::Value(const std::string& label, const std::string& value) {
  out_ << "  " << Padded(label, kLabelWidth) << " " << value << "\n";
}

void CheckReport::Block(const std::string& text) { PrintBlock(out_, text); }

void CheckReport::Note(const std::string& text) { out_ << "  note: " << text << "\n"; }

void CheckReport::Problem(const std::string& text) {
  out_ << "  PROBLEM: " << text << "\n";
  problems_.push_back(text);
}

void CheckReport::Warning(const std::string& text) {
  out_ << "  warning: " << text << "\n";
  warnings_.push_back(text);
}

int CheckReport::Finish() {
  Heading("Summary");
  for (const std::string& text : problems_) out_ << "  PROBLEM: " << text << "\n";
  for (const std::string& text : warnings_) out_ << "  warning: " << text << "\n";
  out_ << "vornlink check: " << problems_.size()
       << (problems_.size() == 1 ? " problem, " : " problems, ") << warnings_.size()
       << (warnings_.size() == 1 ? " warning" : " warnings")
       << (problems_.empty() ? ": the driver can work with these settings"
                             : ": the driver would fail with these settings")
       << "\n";
  return problems_.empty() ? kExitOk : kExitFailed;
}

}  // namespace vornlink
