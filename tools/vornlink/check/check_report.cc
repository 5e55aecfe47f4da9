#include "vornlink/check/check_report.h"

#include <ostream>

#include "vornlink/base/exit_codes.h"
#include "vornlink/base/json_writer.h"
#include "vornlink/base/text_output.h"

namespace vornlink {
namespace {

constexpr size_t kLabelWidth = 22;

}  // namespace

std::string FileName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void CheckReport::Heading(const std::string& title) {
  section_ = title;
  if (!json_) out_ << "\n== " << title << "\n";
}

void CheckReport::Value(const std::string& label, const std::string& value) {
  if (!json_) out_ << "  " << Padded(label, kLabelWidth) << " " << value << "\n";
}

void CheckReport::Block(const std::string& text) {
  if (!json_) PrintBlock(out_, text);
}

void CheckReport::Note(const std::string& text) {
  if (!json_) out_ << "  note: " << text << "\n";
}

std::string CheckReport::Shown(const Finding& finding) {
  if (finding.place.line == 0) return finding.text;
  return FileName(finding.place.file) + " line " + std::to_string(finding.place.line) + ": " +
         finding.text;
}

void CheckReport::Add(const char* kind, std::vector<Finding>* list, const std::string& text,
                      const FindingPlace& place) {
  list->push_back({section_, text, place});
  if (!json_) out_ << "  " << kind << ": " << Shown(list->back()) << "\n";
}

void CheckReport::Problem(const std::string& text, const FindingPlace& place) {
  Add("PROBLEM", &problems_, text, place);
}

void CheckReport::Warning(const std::string& text, const FindingPlace& place) {
  Add("warning", &warnings_, text, place);
}

void CheckReport::FinishJson(int exit_code) {
  JsonWriter json(out_);
  json.BeginObject().Key("module").String(module_);
  for (const auto* list : {&problems_, &warnings_}) {
    json.Key(list == &problems_ ? "problems" : "warnings").BeginArray();
    for (const Finding& finding : *list) {
      json.BeginObject().Key("section").String(finding.section).Key("text").String(finding.text);
      json.Key("file");
      finding.place.line == 0 ? json.Null() : json.String(finding.place.file);
      json.Key("line");
      finding.place.line == 0 ? json.Null() : json.Number(static_cast<int64_t>(finding.place.line));
      json.EndObject();
    }
    json.EndArray();
  }
  json.Key("exit_code").Number(exit_code).EndObject();
}

int CheckReport::Finish() {
  const bool failed = !problems_.empty() || (warnings_fail_ && !warnings_.empty());
  const int exit_code = failed ? kExitFailed : kExitOk;
  if (json_) {
    FinishJson(exit_code);
    return exit_code;
  }
  Heading("Summary");
  for (const Finding& finding : problems_) out_ << "  PROBLEM: " << Shown(finding) << "\n";
  for (const Finding& finding : warnings_) out_ << "  warning: " << Shown(finding) << "\n";
  out_ << "vornlink check: " << problems_.size()
       << (problems_.size() == 1 ? " problem, " : " problems, ") << warnings_.size()
       << (warnings_.size() == 1 ? " warning" : " warnings")
       << (problems_.empty() ? ": the driver can work with these settings"
                             : ": the driver would fail with these settings")
       << (problems_.empty() && failed ? "; --strict: the warnings fail the check" : "") << "\n";
  return exit_code;
}

}  // namespace vornlink
