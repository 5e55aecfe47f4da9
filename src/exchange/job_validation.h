// The job-validation exchange: asks the DMS whether a job number is valid.
#ifndef VORNLINK_EXCHANGE_JOB_VALIDATION_H_
#define VORNLINK_EXCHANGE_JOB_VALIDATION_H_

#include <string>

namespace vornlink {

// 1 when the DMS accepts `job_no`, 0 when it does not or the exchange
// failed (the log tells which). Thread-safe; never throws.
int JobValidationExchange(const std::string& job_no);

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_JOB_VALIDATION_H_
