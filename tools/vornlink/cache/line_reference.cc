#include "vornlink/cache/line_reference.h"

#include <ostream>

#include "vornlink/base/line_states.h"

namespace vornlink {

bool TakeSelector(const std::vector<std::string>& args, CacheSelector* selector,
                  std::vector<std::string>* rest) {
  size_t used = 1;
  if (args.size() >= 2 && (args[0] == "--line" || args[0] == "--trans-no")) {
    selector->kind =
        args[0] == "--line" ? CacheSelector::Kind::kLine : CacheSelector::Kind::kTransNo;
    selector->word = args[1];
    used = 2;
  } else if (!args.empty() && args[0].compare(0, 2, "--") != 0) {
    selector->kind = CacheSelector::Kind::kAny;
    selector->word = args[0];
  } else {
    return false;
  }
  rest->assign(args.begin() + used, args.end());
  return true;
}

bool ResolveTarget(const std::vector<NumberedRecord>& records, const CacheSelector& selector,
                   CacheTarget* target, std::ostream& err) {
  using Kind = CacheSelector::Kind;
  const std::string& word = selector.word;
  const bool any = selector.kind == Kind::kAny;
  std::vector<CacheTarget> found;
  for (const NumberedRecord& line : records) {
    const CacheRecord& r = line.record;
    const bool by_trid = any && !r.trid().empty() && r.trid() == word;
    if (by_trid || ((any || selector.kind == Kind::kLine) && std::to_string(line.line) == word) ||
        ((any || selector.kind == Kind::kTransNo) && r.trans_no() == word)) {
      found.push_back({line, by_trid});
    }
  }
  if (found.size() == 1) {
    *target = found[0];
    return true;
  }
  if (found.empty()) {
    err << "vornlink cache: no line is named " << word
        << (selector.kind == Kind::kLine      ? " (a line number of cache list)"
            : selector.kind == Kind::kTransNo ? " (a TransNo)"
                                              : " (a Trid, a line number of cache list or a "
                                                "TransNo)")
        << "\n";
    return false;
  }
  err << "vornlink cache: " << word << " names " << found.size()
      << " lines; name one by its Trid or by --line N:\n";
  for (const CacheTarget& one : found) {
    const CacheRecord& r = one.line.record;
    err << "  line " << one.line.line << ": Trid " << (r.trid().empty() ? "(none)" : r.trid())
        << ", TransNo " << r.trans_no() << ", JobNo " << r.fields[kJobNo] << ", "
        << StateName(StateOf(r)) << "\n";
  }
  return false;
}

std::string TargetName(const CacheTarget& target) {
  const std::string& trid = target.line.record.trid();
  if (target.by_trid) return "Trid " + trid;
  return "line " + std::to_string(target.line.line) + (trid.empty() ? "" : " (Trid " + trid + ")");
}

std::string TargetLogName(const CacheTarget& target) {
  const std::string trid = "Trid[" + target.line.record.trid() + "]";
  return target.by_trid ? trid : "line[" + std::to_string(target.line.line) + "] " + trid;
}

CacheChange EditTarget(const CacheTarget& target,
                       const std::function<LineEdit(CacheRecord*)>& decide, std::string* new_trid,
                       std::string* error) {
  if (target.by_trid) return EditCacheLine(target.line.record.trid(), decide, new_trid, error);
  return EditCacheLineAt(target.line.line, target.line.record, decide, new_trid, error);
}

}  // namespace vornlink
