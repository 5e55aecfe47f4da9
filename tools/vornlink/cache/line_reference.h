// How `vornlink cache` names the line it shows, releases or drops: by its
// Trid, by the line number that `cache list` prints, or by its TransNo
// where no other line carries it. A line without a Trid (stuck) is reached
// by its number.
#ifndef VORNLINK_TOOLS_VORNLINK_CACHE_LINE_REFERENCE_H_
#define VORNLINK_TOOLS_VORNLINK_CACHE_LINE_REFERENCE_H_

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "cache/cache_file.h"

namespace vornlink {

// What the operator typed: a word that may be any of the three, or one
// kind named by --line N or --trans-no T.
struct CacheSelector {
  enum class Kind { kAny, kLine, kTransNo } kind = Kind::kAny;
  std::string word;
};

// Takes a selector from the front of `args` (the words after the
// subcommand) and leaves the rest in `rest`; false when there is none.
bool TakeSelector(const std::vector<std::string>& args, CacheSelector* selector,
                  std::vector<std::string>* rest);

// A line as read, and how it is found again for a change.
struct CacheTarget {
  NumberedRecord line;
  // Named by a Trid that no other line carries: found again by it, in
  // whatever place and state it is then (the change judges the state).
  // Else found again only while it reads as it did (EditCacheLineAt).
  bool by_trid = false;
};

// The one line of `records` that `selector` names; false with the reason
// in `err` when none does, or several do (they are listed).
bool ResolveTarget(const std::vector<NumberedRecord>& records, const CacheSelector& selector,
                   CacheTarget* target, std::ostream& err);

// "Trid T" for a line named by its Trid, else "line N" (and its Trid).
std::string TargetName(const CacheTarget& target);

// The same as the log names lines: "Trid[T]", or "line[N] Trid[T]".
std::string TargetLogName(const CacheTarget& target);

// The cache's EditCacheLine (by Trid) or EditCacheLineAt for the target.
CacheChange EditTarget(const CacheTarget& target,
                       const std::function<LineEdit(CacheRecord*)>& decide, std::string* new_trid,
                       std::string* error);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CACHE_LINE_REFERENCE_H_
