// The job-validation exchange: asks the DMS whether it knows a job number.
#ifndef VORNLINK_EXCHANGE_JOB_VALIDATION_H_
#define VORNLINK_EXCHANGE_JOB_VALIDATION_H_

#include <string>

#include "base/failure_text.h"
#include "base/stop_signal.h"

namespace vornlink {

enum class JobVerdict {
  kValid,      // the reply code is one of the valid codes
  kNotValid,   // the DMS answered, and not so: the job is unknown to it
  kNotSplit,   // the job number does not split as "KMR/System/WoSplit"
               // says (SplitJobNo), a width of 1 or more: no DMS can know
               // it, none was asked
  kNoVerdict,  // no answer of the DMS could be judged: it was not reached,
               // a time limit or the stop ended the wait, the settings
               // could not be used, the reply could not be read by the
               // result settings
};

// Renders the validation query for `job_no`, sends it over the transport
// that the `Setup` item "TP" names and judges the reply ("IJV" lines in the
// log; every outcome but kValid ends in one '*' line, whose failure text
// also goes to `why` when it is not null; what it tells a person to look
// at goes to `net`, when not null: kOther but for a failure of the
// network). Every wait ends promptly once `stop` (may be null) is set.
// Never throws; thread-safe.
JobVerdict ValidateJob(const std::string& job_no, const StopSignal* stop,
                       std::string* why = nullptr, NetFailure* net = nullptr);

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_JOB_VALIDATION_H_
