// The part of `vornlink check` that looks at the cache beside a module: its
// file and its lines by state, whether this user may write it and make
// files beside it, the cache's lock and the delivery lock (each taken and
// given back at once), and how the worker paces its passes and when it
// parks for an unreachable DMS ([CacheThread] in the INI file). Run with
// the driver pointed at the module (site_env.h); nothing is sent.
#ifndef VORNLINK_TOOLS_VORNLINK_CHECK_CHECK_CACHE_H_
#define VORNLINK_TOOLS_VORNLINK_CHECK_CHECK_CACHE_H_

#include "vornlink/check/check_report.h"

namespace vornlink {

// Adds the section "Cache" to `report`.
void CheckCache(CheckReport* report);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CHECK_CHECK_CACHE_H_
