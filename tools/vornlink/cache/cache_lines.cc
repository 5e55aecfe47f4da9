#include "vornlink/cache/cache_lines.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "exchange/booking_key.h"
#include "platform/env.h"
#include "vornlink/base/dms_reach.h"
#include "vornlink/base/exit_codes.h"
#include "vornlink/base/json_writer.h"
#include "vornlink/base/line_states.h"
#include "vornlink/base/text_output.h"

namespace vornlink {

bool ReadCacheLines(std::vector<NumberedRecord>* records, std::ostream& err) {
  std::string error;
  if (ReadCacheRecords(records, &error)) return true;
  err << "vornlink cache: cannot read the cache " << CacheFilePath() << ": " << error << "\n";
  return false;
}

std::string LineAgeText(const CacheRecord& record) {
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

std::string DispensedAt(const CacheRecord& record) {
  return record.fields[kDate] + " " + record.fields[kTime];
}

namespace {

// The fields' names in the JSON of cache list.
constexpr const char* kJsonFieldNames[kTransactionFieldCount] = {
    "trans_no", "job_no",    "date",       "time",          "user_id",  "field04",
    "field05",  "fluid_key", "fluid_name", "fluid_part_no", "quantity", "field08"};

// Which lines cache list shows: those that match every filter given.
struct ListFilter {
  std::string job;       // the JobNo, or its work order before a separator
  std::string trans_no;  // the TransNo
  std::optional<LineState> state;

  bool Matches(const CacheRecord& record) const {
    return (job.empty() || IsJob(record.fields[kJobNo])) &&
           (trans_no.empty() || record.trans_no() == trans_no) &&
           (!state || StateOf(record) == *state);
  }
  bool IsSet() const { return !job.empty() || !trans_no.empty() || state; }

 private:
  // "118739" finds "118739", "118739.C" and "118739-02", not "1187390".
  bool IsJob(const std::string& job_no) const {
    if (job_no.compare(0, job.size(), job) != 0) return false;
    return job_no.size() == job.size() ||
           !std::isalnum(static_cast<unsigned char>(job_no[job.size()]));
  }
};

// The state a --status word names: its name in the text ("retry later" or
// "retry-later") or in the JSON ("retry_later").
std::optional<LineState> StateNamed(std::string word) {
  std::replace(word.begin(), word.end(), '-', ' ');
  for (LineState state : kAllLineStates) {
    std::string key = StateKey(state);
    std::replace(key.begin(), key.end(), '_', ' ');
    if (word == StateName(state) || word == key) return state;
  }
  return std::nullopt;
}

struct ListOptions {
  bool as_json = false;
  ListFilter filter;
};

// Reads list's words; false (reported, naming the word) on a wrong one.
bool ReadListOptions(const std::vector<std::string>& args, ListOptions* options,
                     std::ostream& err) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--json") {
      options->as_json = true;
      continue;
    }
    const bool takes_value =
        word == "--job" || word == "--trans-no" || word == "--transno" || word == "--status";
    if (!takes_value) {
      err << "vornlink cache: list does not take " << word
          << " (it takes --json, --job J, --trans-no T, --status S)\n";
      return false;
    }
    if (i + 1 == args.size() || args[i + 1].empty()) {
      err << "vornlink cache: list " << word << " wants a value\n";
      return false;
    }
    const std::string& value = args[++i];
    if (word == "--job") {
      options->filter.job = value;
    } else if (word == "--status") {
      options->filter.state = StateNamed(value);
      if (!options->filter.state) {
        err << "vornlink cache: list --status " << value
            << " is no state; the states are due, retry-later, parked, stuck, delivered, "
               "unknown\n";
        return false;
      }
    } else {
      options->filter.trans_no = value;
    }
  }
  return true;
}

int ListJson(const std::vector<NumberedRecord>& records, const ListFilter& filter,
             std::ostream& out) {
  JsonWriter json(out);
  json.BeginObject().Key("cache").String(CacheFilePath()).Key("lines").BeginArray();
  StateCounts counts;
  const int64_t now = GetEnv()->UnixTime();
  for (const NumberedRecord& line : records) {
    const CacheRecord& r = line.record;
    if (!filter.Matches(r)) continue;
    const LineState state = StateOf(r);
    counts.Add(state);
    json.BeginObject().Key("line").Number(static_cast<int64_t>(line.line));
    json.Key("trid").String(r.trid()).Key("state").String(StateKey(state));
    json.Key("status").String(r.status());
    for (size_t i = 0; i < kTransactionFieldCount; ++i) {
      json.Key(kJsonFieldNames[i]).String(r.fields[i]);
    }
    json.Key("dispensed").String(DispensedAt(r));
    json.Key("booking_key").String(BookingKey(r.transaction()));
    json.Key("message").String(r.message());
    const LineAge age = AgeOfLine(r, now);
    json.Key("age_seconds");
    age.kind == LineAge::Kind::kKnown ? json.Number(age.seconds) : json.Null();
    json.Key("ahead_seconds");
    age.kind == LineAge::Kind::kFuture ? json.Number(age.seconds) : json.Null();
    json.EndObject();
  }
  json.EndArray().Key("counts");
  StateCountsJson(json, counts);
  json.EndObject();
  return kExitOk;
}

}  // namespace

int ListCacheLines(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ListOptions options;
  if (!ReadListOptions(args, &options, err)) return kExitUsage;
  std::vector<NumberedRecord> records;
  if (!ReadCacheLines(&records, err)) return kExitFailed;
  if (options.as_json) return ListJson(records, options.filter, out);
  out << Padded("line", 5) << " " << Padded("Trid", 18) << " " << Padded("state", 11) << " "
      << Padded("TransNo", 8) << " " << Padded("JobNo", 12) << " " << Padded("Quantity", 8) << " "
      << Padded("dispensed", 13) << " " << Padded("age", 11) << " message\n";
  StateCounts counts;
  size_t shown = 0;
  for (const NumberedRecord& line : records) {
    const CacheRecord& r = line.record;
    const LineState state = StateOf(r);
    counts.Add(state);
    if (!options.filter.Matches(r)) continue;
    ++shown;
    out << Padded(std::to_string(line.line), 5) << " " << Padded(r.trid(), 18) << " "
        << Padded(StateName(state), 11) << " " << Padded(r.trans_no(), 8) << " "
        << Padded(r.fields[kJobNo], 12) << " " << Padded(r.fields[kQuantity], 8) << " "
        << Padded(DispensedAt(r), 13) << " " << Padded(LineAgeText(r), 11) << " " << MessageShown(r)
        << "\n";
  }
  if (options.filter.IsSet()) out << shown << " of ";
  out << records.size() << " line(s) in " << CacheFilePath() << ": " << counts.Summary() << "\n";
  const std::string unreachable = ReadDmsReach().State();
  if (counts[LineState::kDueNew] + counts[LineState::kDueRetry] > 0 && !unreachable.empty()) {
    out << "the due lines wait: the DMS is " << unreachable << ", as the log tells\n";
  }
  return kExitOk;
}

}  // namespace vornlink
