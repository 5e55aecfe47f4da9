#include "exchange/job_number.h"

#include <algorithm>

#include "base/failure_text.h"
#include "base/numbers.h"

namespace vornlink {

JobParts SplitJobNo(std::string_view job_no, std::string_view wo_split) {
  const int32_t width = WorkOrderWidth(wo_split);
  const size_t dot = job_no.find('.');
  if (dot == std::string_view::npos || job_no.find('.', dot + 1) != std::string_view::npos) {
    std::string pattern(static_cast<size_t>(std::clamp(width, 0, kMaxPatternWidth)), 'X');
    throw FailureText("WoJn[" + std::string(job_no) + "] t[WorkOrder/LineCode should have '" +
                      pattern + ".YY' format]");
  }
  JobParts parts;
  parts.work_order = std::string(job_no.substr(0, dot));
  parts.line_code = std::string(job_no.substr(dot + 1));
  if (width < 0 || parts.work_order.size() != static_cast<size_t>(width)) {
    throw FailureText("Internal: WorkOrder[" + parts.work_order + "] c[WrongLength] t[Should be " +
                      std::to_string(width) + " char wide]");
  }
  return parts;
}

JobParts WorkOrderAndLineCode(std::string_view job_no, std::string_view wo_split) {
  if (KeepsJobNoWhole(wo_split)) return JobParts{std::string(job_no), "NA"};
  return SplitJobNo(job_no, wo_split);
}

bool KeepsJobNoWhole(std::string_view wo_split) { return wo_split == "0"; }

int32_t WorkOrderWidth(std::string_view wo_split) { return LeadingInt(wo_split); }

}  // namespace vornlink
