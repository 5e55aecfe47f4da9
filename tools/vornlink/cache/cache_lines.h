// What the subcommands of `vornlink cache` share: reading the cache's lines
// and showing a line's age and dispense time; and `cache list`.
#ifndef VORNLINK_TOOLS_VORNLINK_CACHE_CACHE_LINES_H_
#define VORNLINK_TOOLS_VORNLINK_CACHE_CACHE_LINES_H_

#include <ostream>
#include <string>
#include <vector>

#include "cache/cache_file.h"

namespace vornlink {

// Reads every line of the cache beside the module in use; false with a
// complaint on `err` when it cannot be read.
bool ReadCacheLines(std::vector<NumberedRecord>* records, std::ostream& err);

// How long a line has waited since its dispense ("3 h 05 min", "ahead 2
// min" for one dated in the future, "?" when its date cannot be read).
std::string LineAgeText(const CacheRecord& record);

// When the host says the fluid was dispensed: its Date and Time fields as
// it wrote them.
std::string DispensedAt(const CacheRecord& record);

// `cache list [--job J] [--trans-no T] [--status S] [--json]`, `args` the
// words after "list": the lines that match every filter given, as a table
// or as JSON. 0 when listed, 1 when the cache cannot be read, 2 for a wrong
// word (named on `err`).
int ListCacheLines(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CACHE_CACHE_LINES_H_
