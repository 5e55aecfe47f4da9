#include "vornlink/cache/cache_command.h"

#include <algorithm>
#include <map>
#include <ostream>

#include "cache/cache_file.h"
#include "cache/unwritten_entries.h"
#include "driver/service.h"
#include "exchange/booking_key.h"
#include "exchange/forward_transaction.h"
#include "log/log.h"
#include "platform/env.h"
#include "vornlink/base/command_line.h"
#include "vornlink/base/exit_codes.h"
#include "vornlink/base/line_states.h"
#include "vornlink/base/operator_entries.h"
#include "vornlink/base/site_env.h"
#include "vornlink/base/text_output.h"
#include "vornlink/base/unwritten_tally.h"
#include "vornlink/cache/cache_lines.h"
#include "vornlink/cache/line_reference.h"

namespace vornlink {
namespace {

constexpr const char* kFieldNames[kTransactionFieldCount] = {
    "TransNo", "JobNo",    "Date",      "Time",        "UserId",   "Field04",
    "Field05", "FluidKey", "FluidName", "FluidPartNo", "Quantity", "Field08"};
// One line of the driver's own log about what an operator changed, so
// that the log tells the whole story of a transaction. Only a log with a
// full path: a relative one lies in the host's current folder, not ours.
void LogOperatorChange(char flag, const std::string& text) {
  const std::string name = ReadLogSettings().file_name;
  const bool absolute = name.size() > 2 && (name[0] == '/' || name[0] == '\\' || name[1] == ':');
  if (!absolute) return;
  LogInit(name, -1, std::string());  // never cut: the host's driver does that
  LogWriteLine(flag, OneLine(text));
  LogInit(std::string(), 0, std::string());
}

// Reads the cache and finds the line `selector` names; false (reported)
// when it cannot.
bool Resolve(const CacheSelector& selector, CacheTarget* target, std::ostream& err) {
  std::vector<NumberedRecord> records;
  return ReadCacheLines(&records, err) && ResolveTarget(records, selector, target, err);
}

int Show(const CacheSelector& selector, std::ostream& out, std::ostream& err) {
  CacheTarget target;
  if (!Resolve(selector, &target, err)) return kExitFailed;
  const CacheRecord& r = target.line.record;
  out << Padded("line", 12) << " " << target.line.line << "\n"
      << Padded("Trid", 12) << " " << r.trid() << " (waits " << LineAgeText(r) << ")\n"
      << Padded("state", 12) << " " << StateName(StateOf(r)) << " (Status [" << r.status()
      << "])\n";
  for (size_t i = 0; i < kTransactionFieldCount; ++i) {
    out << Padded(kFieldNames[i], 12) << " " << r.fields[i] << "\n";
  }
  out << Padded("Message", 12) << " " << MessageShown(r) << "\n"
      << Padded("BookingKey", 12) << " " << BookingKey(r.transaction()) << "\n";
  return kExitOk;
}

int ShowCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CacheSelector selector;
  std::vector<std::string> after;
  if (!TakeSelector(args, &selector, &after)) {
    err << "vornlink cache: show takes a line: a Trid, --line N or --trans-no T\n";
    return kExitUsage;
  }
  if (!after.empty()) {
    err << "vornlink cache: show takes one line, not also " << after[0] << "\n";
    return kExitUsage;
  }
  return Show(selector, out, err);
}

// Reads "LINE [--yes]" or "`all_flag` [--yes]" (`all` says which); false
// for anything else.
bool ParseLineOrAll(const std::vector<std::string>& args, const char* all_flag,
                    CacheSelector* selector, bool* all, bool* confirmed) {
  std::vector<std::string> rest;
  *all = !args.empty() && args[0] == all_flag;
  if (*all) {
    rest.assign(args.begin() + 1, args.end());
  } else if (!TakeSelector(args, selector, &rest)) {
    return false;
  }
  *confirmed = rest.size() == 1 && rest[0] == "--yes";
  return rest.empty() || *confirmed;
}

// What a release came to.
enum class Released { kYes, kNo, kNeedsConfirmation };

// Reports a change that found no line or failed; true when it was done.
bool Changed(CacheChange change, const CacheTarget& target, const std::string& error,
             std::ostream& err) {
  switch (change) {
    case CacheChange::kNotFound:
      err << "vornlink cache: " << TargetName(target)
          << (target.by_trid ? " is not in the cache any more\n"
                             : " is not in the cache as it was read any more (it changed or "
                               "went meanwhile): see cache list\n");
      return false;
    case CacheChange::kFailed:
      err << "vornlink cache: cannot change the cache " << CacheFilePath() << ": " << error << "\n";
      return false;
    case CacheChange::kDone:
      break;
  }
  return true;
}

// Moves the target line to the end as a due line, if it still is one that
// the worker does not send and never reached the DMS; one that may have
// (of unknown outcome, or parked by an older driver after its time limit)
// only when `confirmed`.
Released Release(const CacheTarget& target, bool confirmed, std::ostream& out, std::ostream& err) {
  std::string new_trid, error, refused;
  bool may_have_booked = false;
  CacheRecord released;
  CacheChange change = EditTarget(
      target,
      [&](CacheRecord* record) {
        const LineState state = StateOf(*record);
        if (state == LineState::kDueNew || state == LineState::kDueRetry) {
          refused = std::string("it is ") + StateName(state) + " already";
          return LineEdit::kKeep;
        }
        if (state == LineState::kDelivered) {
          refused = "the DMS booked it already; the worker removes the line";
          return LineEdit::kKeep;
        }
        if ((state == LineState::kOutcomeUnknown || FailureLineMayHaveBooked(record->message())) &&
            !confirmed) {
          may_have_booked = true;
          return LineEdit::kKeep;
        }
        record->fields[CacheRecord::kStatus] = std::string(1, kDueStatus);
        record->fields[CacheRecord::kMessage].clear();
        released = *record;
        return LineEdit::kMoveToEnd;
      },
      &new_trid, &error);
  if (!Changed(change, target, error, err)) return Released::kNo;
  const std::string name = TargetName(target);
  if (may_have_booked) {
    err << "vornlink cache: " << name
        << " is not released: the time limit or a stop ended its exchange after the DMS had the "
           "query, so the DMS may have booked it; look there first, and release it with --yes "
           "only if it did not (or drop it with --yes if it did)\n";
    return Released::kNeedsConfirmation;
  }
  if (!refused.empty()) {
    err << "vornlink cache: " << name << " is not released: " << refused << "\n";
    return Released::kNo;
  }
  out << "released " << name << " (TransNo " << released.trans_no() << ", JobNo "
      << released.fields[kJobNo] << "): due again as Trid " << new_trid << "\n";
  LogOperatorChange('.', std::string(kOperatorEntryHead) + TargetLogName(target) + " TransNo[" +
                             released.trans_no() + std::string(kReleasedWords) + new_trid + "]");
  return Released::kYes;
}

int Retry(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CacheSelector selector;
  bool all = false;
  bool confirmed = false;
  if (!ParseLineOrAll(args, "--all-parked", &selector, &all, &confirmed)) {
    err << "vornlink cache: retry takes a line (a Trid, --line N, --trans-no T) or "
           "--all-parked, and --yes for a transaction the DMS may have booked\n";
    return kExitUsage;
  }
  if (!all) {
    CacheTarget target;
    if (!Resolve(selector, &target, err)) return kExitFailed;
    const Released result = Release(target, confirmed, out, err);
    if (result == Released::kNeedsConfirmation) return kExitUsage;
    return result == Released::kYes ? kExitOk : kExitFailed;
  }
  std::vector<NumberedRecord> records;
  if (!ReadCacheLines(&records, err)) return kExitFailed;
  int released = 0;
  int failed = 0;
  int unconfirmed = 0;  // of those failed: they wait for --yes
  for (const NumberedRecord& line : records) {
    if (StateOf(line.record) != LineState::kParked) continue;
    const Released result = Release({line, /*by_trid=*/true}, confirmed, out, err);
    released += result == Released::kYes ? 1 : 0;
    failed += result == Released::kYes ? 0 : 1;
    unconfirmed += result == Released::kNeedsConfirmation ? 1 : 0;
  }
  out << released << " parked line(s) released";
  if (failed > 0) out << ", " << failed << " not (see above)";
  out << "\n";
  // A missing --yes is a usage error here as for one line.
  if (failed == 0) return kExitOk;
  return failed == unconfirmed ? kExitUsage : kExitFailed;
}

// Removes the target line for good, printing and logging it; false
// (reported) when it could not.
bool DropLine(const CacheTarget& target, std::ostream& out, std::ostream& err) {
  std::string error;
  std::string line;
  LineState state = LineState::kParked;
  const CacheChange change = EditTarget(
      target,
      [&](CacheRecord* record) {
        line = FormatCacheLine(record->transaction(), record->status(), record->trid(),
                               std::string(), record->message());
        state = StateOf(*record);
        return LineEdit::kRemove;
      },
      nullptr, &error);
  if (!Changed(change, target, error, err)) return false;
  const std::string name = TargetName(target);
  out << "dropped " << name << "; the line was:\n" << line << "\n";
  if (state == LineState::kDueNew || state == LineState::kDueRetry) {
    out << "note: it was " << StateName(state)
        << ": a worker may have been sending it at this moment\n";
  } else if (state == LineState::kDelivered) {
    out << "note: the DMS had booked it; the worker would have removed the line\n";
  }
  LogOperatorChange('.', std::string(kOperatorEntryHead) + TargetLogName(target) +
                             std::string(kDroppedWords) + line);
  return true;
}

// Drops every stuck line (a Status or Trid the worker does not send).
int DropStuck(bool confirmed, std::ostream& out, std::ostream& err) {
  std::vector<NumberedRecord> records;
  if (!ReadCacheLines(&records, err)) return kExitFailed;
  int dropped = 0;
  int failed = 0;
  for (const NumberedRecord& line : records) {
    if (StateOf(line.record) != LineState::kStuck) continue;
    if (!confirmed) {
      out << "stuck: line " << line.line << ": "
          << FormatCacheLine(line.record.transaction(), line.record.status(), line.record.trid(),
                             std::string(), line.record.message())
          << "\n";
      ++failed;
    } else if (DropLine({line, /*by_trid=*/false}, out, err)) {
      ++dropped;
    } else {
      ++failed;
    }
  }
  if (!confirmed) {
    err << "vornlink cache: nothing dropped; to drop these " << failed
        << " stuck line(s) for good, add --yes\n";
    return kExitUsage;
  }
  out << dropped << " stuck line(s) dropped";
  if (failed > 0) out << ", " << failed << " not (see above)";
  out << "\n";
  return failed == 0 ? kExitOk : kExitFailed;
}

int Drop(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CacheSelector selector;
  bool all = false;
  bool confirmed = false;
  if (!ParseLineOrAll(args, "--all-stuck", &selector, &all, &confirmed)) {
    err << "vornlink cache: drop takes a line (a Trid, --line N, --trans-no T) or --all-stuck, "
           "and --yes\n";
    return kExitUsage;
  }
  if (all) return DropStuck(confirmed, out, err);
  if (!confirmed) {
    if (Show(selector, out, err) != kExitOk) return kExitFailed;
    err << "vornlink cache: nothing dropped; to drop this transaction for good, add --yes\n";
    return kExitUsage;
  }
  CacheTarget target;
  if (!Resolve(selector, &target, err)) return kExitFailed;
  return DropLine(target, out, err) ? kExitOk : kExitFailed;
}

// Enters again a transaction the driver could not write to the cache, as
// its log names it: the twelve fields between "Transaction[" and "]".
int Add(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const std::vector<std::string> fields = SplitCsv(args.empty() ? std::string() : args[0]);
  if (args.size() > 2 || fields.size() != kTransactionFieldCount) {
    err << "vornlink cache: add takes the twelve fields F1,...,F12 as one word, and --yes\n";
    return kExitUsage;
  }
  if (args.size() != 2 || args[1] != "--yes") {
    err << "vornlink cache: nothing added. A host whose driver still runs writes the "
           "transactions it holds in memory itself: add one only when the log says it was lost "
           "(or its host's process ended otherwise), with --yes\n";
    return kExitUsage;
  }
  TransactionFields transaction;
  std::copy(fields.begin(), fields.end(), transaction.begin());
  // Written after all, though the log may not say so: never twice.
  const std::multimap<std::string, std::string> cached = CachedTransactions();
  const auto there = cached.find(TransactionText(transaction));
  if (there != cached.end()) {
    out << "TransNo " << transaction[kTransNo] << " is in the cache already as Trid "
        << there->second << ": nothing added\n";
    return kExitOk;
  }
  std::string trid, failure;
  if (AddTransactionQuietly(transaction, &trid, &failure) != 1) {
    err << "vornlink cache: cannot add to the cache: " << failure << "\n";
    return kExitFailed;
  }
  out << "added TransNo " << transaction[kTransNo] << " as Trid " << trid << ": due\n";
  LogOperatorChange('.',
                    UnwrittenEntry(UnwrittenEvent::kWritten, TransactionText(transaction), trid) +
                        std::string(kEnteredWords));
  return kExitOk;
}

// Whether `text` is a plain decimal number ("-4.5", "+3", ".5").
bool IsPlainNumber(std::string_view text) {
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  const size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  auto digits = [](std::string_view part) {
    return part.find_first_not_of("0123456789") == std::string_view::npos;
  };
  return whole.size() + fraction.size() > 0 && digits(whole) && digits(fraction);
}

// A CSV field: a text that a spreadsheet would take for a formula (it
// begins with '=', '+', '-', '@', a tab or a carriage return, and is no
// plain number) gets an apostrophe in front; quoted when it holds a comma,
// a quote or a line break.
std::string CsvField(const std::string& text) {
  std::string cell = text;
  if (!cell.empty() && std::string_view("=+-@\t\r").find(cell[0]) != std::string_view::npos &&
      !IsPlainNumber(cell)) {
    cell.insert(0, 1, '\'');
  }
  if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
  std::string quoted = "\"";
  for (char c : cell) {
    if (c == '"') quoted.push_back('"');
    quoted.push_back(c);
  }
  return quoted + "\"";
}

int Export(std::ostream& out, std::ostream& err) {
  std::vector<NumberedRecord> records;
  if (!ReadCacheLines(&records, err)) return kExitFailed;
  out << "Line,Trid,State,Status";
  for (const char* name : kFieldNames) out << "," << name;
  out << ",Message\n";
  for (const NumberedRecord& line : records) {
    const CacheRecord& r = line.record;
    out << line.line << "," << CsvField(r.trid()) << "," << StateName(StateOf(r)) << ","
        << CsvField(r.status());
    for (size_t i = 0; i < kTransactionFieldCount; ++i) out << "," << CsvField(r.fields[i]);
    out << "," << CsvField(r.message()) << "\n";
  }
  return kExitOk;
}

int UsageError(std::ostream& err) {
  PrintSynopsis(kCacheHelp, err);
  return kExitUsage;
}

}  // namespace

const CommandHelp kCacheHelp = {
    "cache",
    CommandGroup::kOperator,
    "cache list [--job J] [--trans-no T] [--status S] [--json]\n"
    "cache show LINE\n"
    "cache retry LINE|--all-parked [--yes]\n"
    "cache drop LINE|--all-stuck --yes\n"
    "cache add F1,...,F12 --yes\n"
    "cache export",
    "the cache's lines: list them, show one, make\n"
    "parked ones due again, drop one, enter a lost one\n"
    "again, export all",
    "LINE is a Trid, a line number that cache list prints, or a TransNo that\n"
    "no other line has (--line N and --trans-no T say which is meant).\n"
    "\n"
    "  list          the cache's lines: number, Trid, state, job, quantity, when\n"
    "                dispensed, age, failure line; --json: every field and the\n"
    "                booking key, as JSON. Only the lines of job J (a JobNo, or\n"
    "                its work order), of TransNo T (--transno too), in state S\n"
    "                (due, retry-later, parked, stuck, delivered, unknown)\n"
    "  show          every field of one line, and its booking key\n"
    "  retry         make parked lines due again (each moves to the end with a\n"
    "                new Trid); --yes also for one the DMS may have booked\n"
    "                (outcome unknown: a time limit or a stop ended its exchange\n"
    "                after the query went out)\n"
    "  drop          remove one line, or every stuck one, for good (each is\n"
    "                printed and logged)\n"
    "  add           enter again a transaction the log says the driver could not\n"
    "                write to the cache and lost\n"
    "  export        every line as CSV on standard output (a cell that would run\n"
    "                as a formula gets a leading ')\n",
    "0 done, 1 the cache could not be read or changed, or LINE names no\n"
    "line or several, 2 usage error or --yes missing",
    "List, show, release, drop, add and export the cache's transactions.\n",
    "--status due retry-later parked stuck delivered unknown\n"};

int RunCacheCommand(const std::string& module_path, const std::vector<std::string>& args,
                    std::ostream& out, std::ostream& err) {
  if (args.empty()) return UsageError(err);
  SiteEnv site(module_path);
  const std::string& what = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (what == "list") return ListCacheLines(rest, out, err);
  if (what == "show") return ShowCommand(rest, out, err);
  if (what == "retry") return Retry(rest, out, err);
  if (what == "drop") return Drop(rest, out, err);
  if (what == "add") return Add(rest, out, err);
  if (what == "export") {
    if (rest.empty()) return Export(out, err);
    err << "vornlink cache: export takes nothing more, not " << rest[0] << "\n";
    return kExitUsage;
  }
  err << "vornlink cache: " << what
      << " is no subcommand of cache (list, show, retry, drop, add, export)"
      << (what == "check" ? "; check is a command of its own: vornlink check" : "") << "\n";
  return kExitUsage;
}

}  // namespace vornlink
