// The job number: a work order and a line code joined by one '.'.
#ifndef VORNLINK_EXCHANGE_JOB_NUMBER_H_
#define VORNLINK_EXCHANGE_JOB_NUMBER_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vornlink {

struct JobParts {
  std::string work_order;
  std::string line_code;
};

// Splits `job_no` at its one '.' and checks that the work order is as wide
// as `wo_split` says (the setting "KMR/System/WoSplit", read from its
// leading digits; none give 0). The line code may have any length. Throws
// FailureText with
//   "WoJn[<JobNo>] t[WorkOrder/LineCode should have '<XXX>.YY' format]"
//     unless there is exactly one '.' (one X for each character of the
//     width; none for a width below 1), or
//   "Internal: WorkOrder[<work order>] c[WrongLength] t[Should be <width>
//     char wide]" (one line) when the work order has another length.
// The X pattern is cut at kMaxPatternWidth characters, so that an absurd
// setting cannot make the failure text take all memory. Thread-safe.
JobParts SplitJobNo(std::string_view job_no, std::string_view wo_split);

// What an exchange takes from a job number: for the setting "0" the whole
// job number as work order and "NA" as line code, else SplitJobNo.
JobParts WorkOrderAndLineCode(std::string_view job_no, std::string_view wo_split);

inline constexpr int kMaxPatternWidth = 1024;

// Whether `wo_split` keeps job numbers whole: the setting "0".
bool KeepsJobNoWhole(std::string_view wo_split);
// The work order's width that `wo_split` sets, read from its leading digits
// (none give 0).
int32_t WorkOrderWidth(std::string_view wo_split);

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_JOB_NUMBER_H_
