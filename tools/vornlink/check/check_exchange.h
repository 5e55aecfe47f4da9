// The part of `vornlink check` that walks the two DMS exchanges as the
// driver would, up to the point where it would send: the job number split,
// the query a sample renders to, the transport and its connection values
// (passwords masked), the reply rules and code lists. Nothing is sent.
#ifndef VORNLINK_TOOLS_VORNLINK_CHECK_CHECK_EXCHANGE_H_
#define VORNLINK_TOOLS_VORNLINK_CHECK_CHECK_EXCHANGE_H_

#include "vornlink/base/exchange_sample.h"
#include "vornlink/check/check_report.h"

namespace vornlink {

// Reports both exchanges for the module the driver's code is pointed at.
// Faults of the job validation are problems only when `validation_gate`
// (the INI's Validation) is on, else warnings: a host that never asks
// IsJobnoValid does not need it. Returns whether an exchange uses HTTPS.
bool CheckExchanges(const ExchangeSample& sample, bool validation_gate, CheckReport* report);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CHECK_CHECK_EXCHANGE_H_
