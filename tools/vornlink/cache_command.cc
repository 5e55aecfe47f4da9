#include "vornlink/cache_command.h"

#include <algorithm>
#include <map>
#include <ostream>

#include "cache/cache_file.h"
#include "cache/unwritten_entries.h"
#include "driver/service.h"
#include "exchange/forward_transaction.h"
#include "log/log.h"
#include "platform/env.h"
#include "vornlink/cache_view.h"
#include "vornlink/commands.h"
#include "vornlink/module_site.h"
#include "vornlink/text_output.h"
#include "vornlink/unwritten_tally.h"

namespace vornlink {
namespace {

constexpr const char kUsage[] =
    "vornlink cache: list, show TRID, retry TRID|--all-parked [--yes], drop TRID --yes, add "
    "F1,...,F12 --yes or export\n";

constexpr const char* kFieldNames[kTransactionFieldCount] = {
    "TransNo", "JobNo",    "Date",      "Time",        "UserId",   "Field04",
    "Field05", "FluidKey", "FluidName", "FluidPartNo", "Quantity", "Field08"};

// How long a line has waited (see AgeOfLine).
std::string AgeOf(const CacheRecord& record) {
  const LineAge age = AgeOfLine(record, GetEnv()->UnixTime());
  switch (age.kind) {
    case LineAge::Kind::kKnown:
      return FormatAge(age.seconds);
    case LineAge::Kind::kFuture:
      return "ahead " + FormatAge(age.seconds);
    case LineAge::Kind::kUnknown:
      break;
  }
  return "?";
}

bool ReadAll(std::vector<NumberedRecord>* records, std::ostream& err) {
  std::string error;
  if (ReadCacheRecords(records, &error)) return true;
  err << "vornlink cache: cannot read the cache " << CacheFilePath() << ": " << error << "\n";
  return false;
}

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

int List(std::ostream& out, std::ostream& err) {
  std::vector<NumberedRecord> records;
  if (!ReadAll(&records, err)) return kExitFailed;
  out << Padded("line", 5) << " " << Padded("Trid", 18) << " " << Padded("state", 11) << " "
      << Padded("TransNo", 8) << " " << Padded("JobNo", 12) << " " << Padded("Quantity", 8) << " "
      << Padded("age", 11) << " message\n";
  StateCounts counts;
  for (const NumberedRecord& line : records) {
    const CacheRecord& r = line.record;
    const LineState state = StateOf(r);
    counts.Add(state);
    out << Padded(std::to_string(line.line), 5) << " " << Padded(r.trid(), 18) << " "
        << Padded(StateName(state), 11) << " " << Padded(r.trans_no(), 8) << " "
        << Padded(r.fields[kJobNo], 12) << " " << Padded(r.fields[kQuantity], 8) << " "
        << Padded(AgeOf(r), 11) << " " << r.message() << "\n";
  }
  out << records.size() << " line(s) in " << CacheFilePath() << ": " << counts.Summary() << "\n";
  return kExitOk;
}

const NumberedRecord* Find(const std::vector<NumberedRecord>& records, const std::string& trid) {
  for (const NumberedRecord& line : records) {
    if (line.record.trid() == trid) return &line;
  }
  return nullptr;
}

int Show(const std::string& trid, std::ostream& out, std::ostream& err) {
  std::vector<NumberedRecord> records;
  if (!ReadAll(&records, err)) return kExitFailed;
  const NumberedRecord* line = Find(records, trid);
  if (line == nullptr) {
    err << "vornlink cache: no line carries the Trid " << trid << "\n";
    return kExitFailed;
  }
  const CacheRecord& r = line->record;
  out << Padded("line", 12) << " " << line->line << "\n"
      << Padded("Trid", 12) << " " << r.trid() << " (waits " << AgeOf(r) << ")\n"
      << Padded("state", 12) << " " << StateName(StateOf(r)) << " (Status [" << r.status()
      << "])\n";
  for (size_t i = 0; i < kTransactionFieldCount; ++i) {
    out << Padded(kFieldNames[i], 12) << " " << r.fields[i] << "\n";
  }
  out << Padded("Message", 12) << " " << r.message() << "\n";
  return kExitOk;
}

// What a release came to.
enum class Released { kYes, kNo, kNeedsConfirmation };

// Moves the line of `trid` to the end as a due line, if it still is one
// that the worker does not send and never reached the DMS; one that may
// have (its exchange ran out of time) only when `confirmed`.
Released Release(const std::string& trid, bool confirmed, std::ostream& out, std::ostream& err) {
  std::string new_trid, error, refused;
  bool may_have_booked = false;
  CacheRecord released;
  CacheChange change = EditCacheLine(
      trid,
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
        if (FailureLineMayHaveBooked(record->message()) && !confirmed) {
          may_have_booked = true;
          return LineEdit::kKeep;
        }
        record->fields[CacheRecord::kStatus] = "0";
        record->fields[CacheRecord::kMessage].clear();
        released = *record;
        return LineEdit::kMoveToEnd;
      },
      &new_trid, &error);
  switch (change) {
    case CacheChange::kNotFound:
      err << "vornlink cache: no line carries the Trid " << trid << "\n";
      return Released::kNo;
    case CacheChange::kFailed:
      err << "vornlink cache: cannot change the cache " << CacheFilePath() << ": " << error << "\n";
      return Released::kNo;
    case CacheChange::kDone:
      break;
  }
  if (may_have_booked) {
    err << "vornlink cache: Trid " << trid
        << " is not released: the time limit ended its exchange, perhaps after the DMS had the "
           "query, so the DMS may have booked it; look there first, and release it with --yes "
           "only if it did not\n";
    return Released::kNeedsConfirmation;
  }
  if (!refused.empty()) {
    err << "vornlink cache: Trid " << trid << " is not released: " << refused << "\n";
    return Released::kNo;
  }
  out << "released Trid " << trid << " (TransNo " << released.trans_no() << ", JobNo "
      << released.fields[kJobNo] << "): due again as Trid " << new_trid << "\n";
  LogOperatorChange('.', "vornlink cache: Trid[" + trid + "] TransNo[" + released.trans_no() +
                             "] released by an operator -> due again as Trid[" + new_trid + "]");
  return Released::kYes;
}

int Retry(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const bool confirmed = args.size() == 2 && args[1] == "--yes";
  if (args.empty() || args.size() > 2 || (args.size() == 2 && !confirmed)) {
    err << "vornlink cache: retry takes a Trid or --all-parked, and --yes for a transaction the "
           "DMS may have booked\n";
    return kExitUsage;
  }
  if (args[0] != "--all-parked") {
    const Released result = Release(args[0], confirmed, out, err);
    if (result == Released::kNeedsConfirmation) return kExitUsage;
    return result == Released::kYes ? kExitOk : kExitFailed;
  }
  std::vector<NumberedRecord> records;
  if (!ReadAll(&records, err)) return kExitFailed;
  int released = 0;
  int failed = 0;
  for (const NumberedRecord& line : records) {
    if (StateOf(line.record) != LineState::kParked) continue;
    if (Release(line.record.trid(), confirmed, out, err) == Released::kYes) {
      ++released;
    } else {
      ++failed;
    }
  }
  out << released << " parked line(s) released";
  if (failed > 0) out << ", " << failed << " not (see above)";
  out << "\n";
  return failed == 0 ? kExitOk : kExitFailed;
}

int Drop(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const bool confirmed = args.size() == 2 && args[1] == "--yes";
  if (args.empty() || args.size() > 2 || (args.size() == 2 && !confirmed)) {
    err << "vornlink cache: drop takes a Trid and --yes\n";
    return kExitUsage;
  }
  if (!confirmed) {
    Show(args[0], out, err);
    err << "vornlink cache: nothing dropped; to drop this transaction for good, add --yes\n";
    return kExitUsage;
  }
  std::string error;
  std::string line;
  LineState state = LineState::kParked;
  CacheChange change = EditCacheLine(
      args[0],
      [&](CacheRecord* record) {
        line = FormatCacheLine(record->transaction(), record->status(), record->trid(),
                               std::string(), record->message());
        state = StateOf(*record);
        return LineEdit::kRemove;
      },
      nullptr, &error);
  if (change == CacheChange::kNotFound) {
    err << "vornlink cache: no line carries the Trid " << args[0] << "\n";
    return kExitFailed;
  }
  if (change == CacheChange::kFailed) {
    err << "vornlink cache: cannot change the cache " << CacheFilePath() << ": " << error << "\n";
    return kExitFailed;
  }
  out << "dropped Trid " << args[0] << "; the line was:\n" << line << "\n";
  if (state == LineState::kDueNew || state == LineState::kDueRetry) {
    out << "note: it was " << StateName(state)
        << ": a worker may have been sending it at this moment\n";
  } else if (state == LineState::kDelivered) {
    out << "note: the DMS had booked it; the worker would have removed the line\n";
  }
  LogOperatorChange('.', "vornlink cache: Trid[" + args[0] + "] dropped by an operator: " + line);
  return kExitOk;
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
                        ", entered by an operator");
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
  if (!ReadAll(&records, err)) return kExitFailed;
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

}  // namespace

int RunCacheCommand(const std::string& module_path, const std::vector<std::string>& args,
                    std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kUsage;
    return kExitUsage;
  }
  ModuleSite site(module_path);
  const std::string& what = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (what == "list" && rest.empty()) return List(out, err);
  if (what == "show" && rest.size() == 1) return Show(rest[0], out, err);
  if (what == "retry") return Retry(rest, out, err);
  if (what == "drop") return Drop(rest, out, err);
  if (what == "add") return Add(rest, out, err);
  if (what == "export" && rest.empty()) return Export(out, err);
  err << kUsage;
  return kExitUsage;
}

}  // namespace vornlink
