#include "exchange/job_validation.h"

#include "log/log.h"

namespace vornlink {

int JobValidationExchange(const std::string& job_no) {
  // The exchange with the DMS is not part of this build yet: no job number
  // can be confirmed, and the log says why.
  LogPrint('*',
           "IJV: WorkOrder[] LineCode[] --> t[Job validation not available] JobNo[%s] "
           "--> NOT VALID",
           job_no.c_str());
  return 0;
}

}  // namespace vornlink
