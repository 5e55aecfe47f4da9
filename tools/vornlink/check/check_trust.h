// The parts of `vornlink check` that look at how the exchanges trust the
// DMS and how long they may take: the authorities an HTTPS exchange trusts
// (on Linux the certificates of [HTTPS] CAFile, each with its subject and
// end of validity) and the transport's time limit ([Transport]
// TimeoutSeconds). Run with the driver pointed at the module
// (site_env.h); nothing is sent.
#ifndef VORNLINK_TOOLS_VORNLINK_CHECK_CHECK_TRUST_H_
#define VORNLINK_TOOLS_VORNLINK_CHECK_CHECK_TRUST_H_

#include "vornlink/check/check_report.h"

namespace vornlink {

// Adds the section "Trust (HTTPS)"; `uses_https`: an exchange speaks
// HTTPS, so that a CAFile that cannot be used is a problem, not a warning.
void CheckTrust(CheckReport* report, bool uses_https);

// Adds the section on the transport's time limit.
void CheckTimeLimit(CheckReport* report);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CHECK_CHECK_TRUST_H_
