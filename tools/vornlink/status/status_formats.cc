// The machine forms of `vornlink status`: JSON for scripts, the text
// format that monitoring agents collect, and a monitoring plugin's line. Their names are documented
// in the README's operator section: keep them stable.
#include <ostream>
#include <string>

#include "cache/cache_reserve.h"
#include "vornlink/base/json_writer.h"
#include "vornlink/base/prometheus_text.h"
#include "vornlink/status/status_facts.h"

namespace vornlink {
namespace {

const char* ReadKey(ReadResult read) {
  switch (read) {
    case ReadResult::kOk:
      return "ok";
    case ReadResult::kMissing:
      return "missing";
    case ReadResult::kError:
      break;
  }
  return "unreadable";
}

const char* LockKey(LockProbe lock) {
  switch (lock) {
    case LockProbe::kFree:
      return "free";
    case LockProbe::kHeld:
      return "held";
    case LockProbe::kNotJudged:
      return "not_judged";
    case LockProbe::kUnavailable:
      break;
  }
  return "unavailable";
}

const char* LogKey(LogState state) {
  switch (state) {
    case LogState::kNotSet:
      return "not_set";
    case LogState::kRefused:
      return "refused";
    case LogState::kMissing:
      return "missing";
    case LogState::kUnreadable:
      return "unreadable";
    case LogState::kRead:
      break;
  }
  return "read";
}

void DueLineJson(JsonWriter& json, const char* key, const std::optional<DueLine>& line,
                 const char* seconds_key) {
  json.Key(key);
  if (!line.has_value()) {
    json.Null();
    return;
  }
  json.BeginObject().Key("trid").String(line->trid).Key("trans_no").String(line->trans_no);
  json.Key(seconds_key).Number(line->seconds).EndObject();
}

void EventJson(JsonWriter& json, const char* key, const LoggedEvent& event) {
  json.Key(key);
  if (event.stamp.empty()) {
    json.Null();
    return;
  }
  json.BeginObject().Key("stamp").String(event.stamp).Key("unix_time");
  if (event.unix_time == 0) {
    json.Null();
  } else {
    json.Number(event.unix_time);
  }
  json.Key("entry").String(event.message).EndObject();
}

// A text that may tell nothing: null then.
void TextOrNull(JsonWriter& json, const char* key, const std::string& text) {
  json.Key(key);
  if (text.empty()) {
    json.Null();
  } else {
    json.String(text);
  }
}

// The verdict as a plugin's output line holds it: a '|' would start the
// performance data, a line break the long output.
std::string PluginText(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '|') {
      line += "\\x7C";
    } else {
      line += c == '\n' || c == '\r' ? ' ' : c;
    }
  }
  return line;
}

// One item of performance data: label=value[unit];warn;crit;0 (no maximum).
void Perfdata(std::ostream& out, const char* label, int64_t value, const char* unit = "",
              const std::string& warn = "", const std::string& crit = "") {
  out << " " << label << "=" << value << unit << ";" << warn << ";" << crit << ";0";
}

}  // namespace

void PrintStatusJson(const StatusFacts& facts, std::ostream& out) {
  JsonWriter json(out);
  json.BeginObject().Key("module").String(facts.module_path);
  TextOrNull(json, "module_version", facts.module_version);
  json.Key("files").BeginArray();
  for (const DriverFile& file : facts.files) {
    json.BeginObject().Key("role").String(file.key).Key("path").String(file.path);
    json.Key("state").String(ReadKey(file.read));
    TextOrNull(json, "error", file.error);
    json.EndObject();
  }
  json.EndArray();

  json.Key("cache").BeginObject().Key("path").String(facts.cache_path);
  json.Key("readable").Bool(facts.cache_read);
  TextOrNull(json, "error", facts.cache_error);
  json.Key("lines");
  if (facts.cache_read) {
    StateCountsJson(json, facts.counts);
  } else {
    json.Null();
  }
  DueLineJson(json, "oldest_due", facts.oldest_due, "age_seconds");
  DueLineJson(json, "dated_ahead", facts.dated_ahead, "ahead_seconds");
  json.Key("reserve").BeginObject().Key("path").String(facts.reserve_path);
  json.Key("state").String(ReadKey(facts.reserve_read));
  TextOrNull(json, "error", facts.reserve_error);
  json.Key("bytes").Number(static_cast<int64_t>(facts.reserve_bytes));
  json.Key("whole_bytes").Number(static_cast<int64_t>(kCacheReserveBytes)).EndObject();
  json.EndObject();

  json.Key("delivery_lock").BeginObject().Key("state").String(LockKey(facts.delivery_lock));
  TextOrNull(json, "reason", facts.delivery_lock_reason);
  json.EndObject();

  json.Key("log").BeginObject().Key("path").String(facts.log_path);
  json.Key("state").String(LogKey(facts.log_state));
  TextOrNull(json, "error", facts.log_error);
  EventJson(json, "last_delivery", facts.last_delivery);
  EventJson(json, "last_retry_later", facts.last_retry);
  EventJson(json, "last_failure", facts.last_failure);
  EventJson(json, "dms_unreachable_since", facts.dms_unreachable_since);
  json.EndObject();

  json.Key("unwritten").BeginArray();
  for (const UnwrittenTally::Open& one : facts.unwritten) {
    json.BeginObject().Key("since").String(one.since);
    json.Key("transaction").String(one.transaction).EndObject();
  }
  json.EndArray();
  json.Key("stale_minutes").Number(facts.stale_minutes);
  json.Key("exit_code").Number(facts.exit_code).Key("verdict").String(facts.verdict);
  json.EndObject();
}

void PrintStatusPrometheus(const StatusFacts& facts, std::ostream& out) {
  PrometheusText metrics(out, {{"module", facts.module_path}});
  metrics.Family("vornlink_status_code", "gauge",
                 "Exit code of vornlink status: 0 OK, 1 WARNING (a due transaction is stale), 2 "
                 "CRITICAL (parked, stuck or unwritten transactions, no worker can deliver, the "
                 "log refused), 3 UNKNOWN (the site cannot be read).");
  metrics.Sample(facts.exit_code);
  if (facts.cache_read) {
    metrics.Family("vornlink_cache_lines", "gauge", "Lines of the cache file by state.");
    for (LineState state : kAllLineStates) {
      metrics.Sample(facts.counts[state], {{"state", StateKey(state)}});
    }
    metrics.Family("vornlink_oldest_due_age_seconds", "gauge",
                   "Seconds since the dispense of the due transaction that has waited longest; "
                   "0 when none is due.");
    metrics.Sample(facts.oldest_due.has_value() ? facts.oldest_due->seconds : 0);
  }
  metrics.Family("vornlink_cache_reserve_missing_bytes", "gauge",
                 "Bytes the cache's reserve for a full disk lacks: given up to a full disk, or "
                 "all of it while the reserve is missing or cannot be used; 0 when whole.");
  metrics.Sample(static_cast<int64_t>(
      facts.reserve_bytes < kCacheReserveBytes ? kCacheReserveBytes - facts.reserve_bytes : 0));
  metrics.Family("vornlink_delivery_lock_held", "gauge",
                 "1 when a worker holds the delivery lock: a service delivers this cache.");
  metrics.Sample(facts.delivery_lock == LockProbe::kHeld ? 1 : 0);
  metrics.Family("vornlink_delivery_lock_unavailable", "gauge",
                 "1 when the delivery lock cannot be taken at all, so no worker can deliver.");
  metrics.Sample(facts.delivery_lock == LockProbe::kUnavailable ? 1 : 0);
  if (facts.log_state == LogState::kRead) {
    metrics.Family("vornlink_unwritten_transactions", "gauge",
                   "Transactions the log says the driver could not write to the cache and has "
                   "not written since.");
    metrics.Sample(static_cast<int64_t>(facts.unwritten.size()));
    const struct {
      const char* name;
      const char* help;
      const LoggedEvent& event;
    } kEvents[] = {
        {"vornlink_last_delivery_timestamp_seconds",
         "Unix time of the last delivery the log tells of; 0 when none.", facts.last_delivery},
        {"vornlink_last_retry_later_timestamp_seconds",
         "Unix time of the last reply to retry later the log tells of; 0 when none.",
         facts.last_retry},
        {"vornlink_last_failure_timestamp_seconds",
         "Unix time of the last failure the log tells of; 0 when none.", facts.last_failure},
        {"vornlink_dms_unreachable_since_timestamp_seconds",
         "Unix time since which the log's outcomes say that the DMS cannot be reached; 0 while "
         "the last one reached it.",
         facts.dms_unreachable_since},
    };
    for (const auto& event : kEvents) {
      metrics.Family(event.name, "gauge", event.help);
      metrics.Sample(event.event.unix_time);
    }
  }
  metrics.Family("vornlink_module_info", "gauge",
                 "The driver module's version (empty when it cannot be told).");
  metrics.Sample(1, {{"version", facts.module_version}});
}

void PrintStatusNagios(const StatusFacts& facts, std::ostream& out) {
  out << "VORNLINK " << ExitName(facts.exit_code) << " - " << PluginText(facts.verdict) << " |";
  const std::string none = "0";  // critical above 0
  if (facts.cache_read) {
    const StateCounts& counts = facts.counts;
    Perfdata(out, "due", counts[LineState::kDueNew]);
    Perfdata(out, "retry_later", counts[LineState::kDueRetry]);
    Perfdata(out, "parked", counts[LineState::kParked], "", "", none);
    Perfdata(out, "stuck", counts[LineState::kStuck], "", "", none);
    Perfdata(out, "delivered_pending", counts[LineState::kDelivered]);
    Perfdata(out, "outcome_unknown", counts[LineState::kOutcomeUnknown], "", "", none);
    Perfdata(out, "oldest_due_age", facts.oldest_due.has_value() ? facts.oldest_due->seconds : 0,
             "s", std::to_string(int64_t{facts.stale_minutes} * 60));
  }
  if (facts.log_state == LogState::kRead) {
    Perfdata(out, "unwritten", static_cast<int64_t>(facts.unwritten.size()), "", "", none);
  }
  Perfdata(out, "reserve_missing",
           static_cast<int64_t>(facts.reserve_bytes < kCacheReserveBytes
                                    ? kCacheReserveBytes - facts.reserve_bytes
                                    : 0),
           "B");
  out << "\n";
}

}  // namespace vornlink
