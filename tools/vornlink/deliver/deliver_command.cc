#include "vornlink/deliver/deliver_command.h"

#include <chrono>
#include <ctime>
#include <ostream>
#include <thread>

#include "cache/cache_file.h"
#include "delivery/cache_worker.h"
#include "driver/service.h"
#include "log/log.h"
#include "platform/env.h"
#include "platform/process.h"
#include "platform/terminal.h"
#include "transport/transport_limits.h"
#include "vornlink/base/dms_reach.h"
#include "vornlink/base/exit_codes.h"
#include "vornlink/base/line_states.h"
#include "vornlink/base/log_follower.h"
#include "vornlink/base/site_env.h"
#include "vornlink/base/text_output.h"
#include "vornlink/deliver/delivery_watch.h"

namespace vornlink {
namespace {

using Clock = std::chrono::steady_clock;

// How often the cache and the log are looked at.
constexpr std::chrono::milliseconds kLookInterval{100};
// The most still-due lines listed one by one in the summary.
constexpr size_t kMaxListed = 20;
// Beyond a pass's wait and an exchange's time limit, before a worker that
// sends nothing is given up.
constexpr int kStallMarginSeconds = 10;
// Of the time a closing console leaves, what the stop leaves unused: for
// what comes after its bound (its last entries, the return).
constexpr uint32_t kCloseMarginMs = 500;

struct Options {
  int passes = 0;   // 0: as many as it takes
  int seconds = 0;  // 0: no time limit
};

bool ParseCount(const std::string& text, int* value) {
  if (text.empty() || text.size() > 6 ||
      text.find_first_not_of("0123456789") != std::string::npos || std::stoi(text) == 0) {
    return false;
  }
  *value = std::stoi(text);
  return true;
}

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::ostream& err) {
  for (size_t i = 0; i < args.size(); i += 2) {
    const bool passes = args[i] == "--passes";
    if ((!passes && args[i] != "--for") || i + 1 >= args.size() ||
        !ParseCount(args[i + 1], passes ? &options->passes : &options->seconds)) {
      err << "vornlink deliver: takes --passes N and --for SECONDS, each a whole number above 0\n";
      return false;
    }
  }
  return true;
}

void Show(std::ostream& out, const std::string& label, const std::string& value) {
  out << "  " << Padded(label, 16) << " " << value << "\n";
}

std::string TimeOfDay() {
  std::tm local{};
  char text[16] = "--:--:--";
  if (ToLocalTime(GetEnv()->UnixTime(), &local))
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

std::string Plural(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string LineName(const std::string& trid, const std::string& trans_no,
                     const std::string& job_no) {
  return "Trid " + trid + " TransNo " + trans_no + " job " + job_no;
}

void PrintOutcome(std::ostream& out, const LineOutcome& outcome, bool log_followed) {
  std::string verdict = outcome.verdict;
  if (outcome.fate == LineFate::kRemoved) {
    verdict = "the log tells of no delivery (dropped by hand?)";
  } else if (outcome.fate == LineFate::kOther) {
    verdict = "its Status was changed meanwhile";
  } else if (verdict.empty()) {
    verdict = log_followed ? "(its entry is not in the log)"
                           : "(no log: the DMS's code and text unknown)";
  }
  out << TimeOfDay() << " " << Padded(FateName(outcome.fate), 12) << " "
      << LineName(outcome.trid, outcome.trans_no, outcome.job_no) << ": " << verdict << "\n";
  out.flush();
}

// The log the driver of the loaded module writes, when it writes one that
// this program can follow; what the operator is told of it.
std::string LogToFollow(std::ostream& out) {
  const std::string name = ReadLogSettings().file_name;
  std::string error;
  if (name.empty()) {
    Show(out, "log",
         "none (KMR/Log/FileName is empty): outcomes without the DMS's codes and texts");
    return std::string();
  }
  if (!GetEnv()->IsTrustedPath(name, &error)) {
    Show(out, "log",
         name + " is not written (" + error +
             "): outcomes without the DMS's codes "
             "and texts");
    return std::string();
  }
  Show(out, "log", name + " (the DMS's codes and texts are read from it)");
  return name;
}

struct RunState {
  size_t tally[kLineFateCount] = {};  // by LineFate
  std::string ended_by;
  TryLockResult lock = TryLockResult::kTaken;  // what this process's worker found
  bool missed_noted = false;
  // The cache as the last look found it, and its lines: parsed again only
  // when the file's content changed.
  std::string cache_text;
  std::vector<NumberedRecord> records;
};

void TakeOutcomes(const std::vector<LineOutcome>& outcomes, bool log_followed, RunState* run,
                  std::ostream& out) {
  for (const LineOutcome& outcome : outcomes) {
    ++run->tally[static_cast<size_t>(outcome.fate)];
    PrintOutcome(out, outcome, log_followed);
  }
}

// Looks at the cache and the log once; false when the cache could not be
// read (nothing is learned then).
bool LookOnce(LogFollower* follower, DeliveryWatch* watch, bool log_followed, RunState* run,
              std::ostream& out, bool* progress) {
  std::string error;
  bool changed = false;
  if (!ReadChangedCacheRecords(&run->cache_text, &run->records, &changed, &error)) return false;
  const std::vector<NumberedRecord>& records = run->records;
  const std::vector<CapturedEntry> entries = follower->TakeNew();
  // Only this process's worker counts: a host's that starts meanwhile and
  // waits for it says so too.
  for (const CapturedEntry& entry : entries) {
    uint32_t process = 0;
    TryLockResult lock;
    if (WorkerStartOfLogEntry(entry.flag, entry.message, CacheFilePath(), &process, &lock) &&
        process == CurrentProcessId()) {
      run->lock = lock;
    }
  }
  if (follower->missed_lines() && !run->missed_noted) {
    run->missed_noted = true;
    out << TimeOfDay()
        << " the log is cut faster than it is read (KMR/Log/MaxLines): some codes "
           "and texts are missing\n";
  }
  const std::vector<LineOutcome> outcomes =
      watch->Update(records, entries, follower->missed_lines());
  TakeOutcomes(outcomes, log_followed, run, out);
  const std::vector<std::string> unreachable = watch->TakeUnreachable();
  for (const std::string& verdict : unreachable) {
    out << TimeOfDay() << " " << Padded("unreachable", 12) << " the DMS: " << verdict
        << ": every due line stays due; tried again in the next pass\n";
  }
  out.flush();
  *progress = !outcomes.empty() || !unreachable.empty();
  return true;
}

// Why a request of the terminal or the system, or an output that cannot be
// written any more, ends the run; empty when none does.
std::string WhyStopAsked(const EndRequestWatch& end, const std::ostream& out) {
  switch (end.requested()) {
    case EndRequest::kInterrupt:
      return "interrupted";
    case EndRequest::kHangUp:
      return "the terminal hung up (SIGHUP)";
    case EndRequest::kClose:
      return "the console closes (the system ends this program within seconds)";
    case EndRequest::kNone:
      break;
  }
  return out ? std::string() : "the output cannot be written (a closed pipe or terminal)";
}

// Why the run ends now; empty while it goes on.
std::string WhyEnd(const Options& options, const DeliveryWatch& watch, const RunState& run,
                   const std::string& stop_asked, Clock::time_point deadline,
                   Clock::time_point stalled_at, int stall_seconds) {
  if (run.lock == TryLockResult::kHeld) {
    return "another worker delivers this cache too (a host runs the driver for it)";
  }
  if (run.lock == TryLockResult::kUnavailable) return "the delivery lock cannot be taken";
  if (watch.Due().empty()) return "no line is due";
  if (options.passes > 0 && watch.passes_ended() >= options.passes) {
    return Plural(static_cast<size_t>(options.passes), "pass", "passes") + " done";
  }
  if (options.passes == 0 && options.seconds == 0 && watch.last_pass_changed_nothing()) {
    return "the DMS asked to retry every line of the last pass later";
  }
  if (options.passes == 0 && options.seconds == 0 && watch.last_pass_unreachable()) {
    return "the DMS cannot be reached";
  }
  if (!stop_asked.empty()) return stop_asked;
  const Clock::time_point now = Clock::now();
  if (options.seconds > 0 && now >= deadline) {
    return "the time is up (" + std::to_string(options.seconds) + " s)";
  }
  if (now >= stalled_at) {
    return "the worker sent nothing for " + std::to_string(stall_seconds) +
           " s (longer than a pass's wait and an exchange's time limit)";
  }
  return std::string();
}

// Says when the worker sends and when the run ends; how long a worker that
// sends nothing is waited for.
int ShowPlan(const Options& options, std::ostream& out) {
  const RetrySetting retry = ReadRetrySetting();
  const int64_t time_limit = TransportTimeLimit().count();
  Show(out, "worker",
       "a pass at once, then " + std::to_string(retry.seconds) +
           " s after each pass (RetryTime); an exchange takes at most " +
           std::to_string(time_limit) + " s (TimeoutSeconds)");
  Show(out, "until",
       options.passes > 0 || options.seconds > 0
           ? "no line is due" +
                 (options.passes > 0
                      ? ", or " + Plural(static_cast<size_t>(options.passes), "pass", "passes") +
                            " ended"
                      : std::string()) +
                 (options.seconds > 0 ? ", or " + std::to_string(options.seconds) +
                                            " s passed (the stop may take 10 s more)"
                                      : std::string())
           : "no line is due, or the DMS asked to retry every line of a pass later");
  return retry.seconds + static_cast<int>(time_limit) + kStallMarginSeconds;
}

// Stops the service the orderly way; where the system ends the process
// soon (a closing console), within the time it leaves, so that an exchange
// whose reply does not come in time is cut and said to be so before that.
int32_t StopInOrder(const Driver& driver, EndRequestWatch* end) {
  if (end->requested() == EndRequest::kClose) {
    const uint32_t left = end->HoldLeftMs();
    SetProcessEnvironmentValue(kStopWithinVariable,
                               std::to_string(left > kCloseMarginMs ? left - kCloseMarginMs : 1));
  }
  const int32_t stopped = driver.api.stop_service();
  end->Release();
  SetProcessEnvironmentValue(kStopWithinVariable, "");
  SetProcessEnvironmentValue(kFirstPassAtOnceVariable, "");
  return stopped;
}

void ShowStillDue(std::ostream& out, const std::vector<DueLine>& due) {
  Show(out, "still due", Plural(due.size(), "line", "lines"));
  for (size_t i = 0; i < due.size() && i < kMaxListed; ++i) {
    const DueLine& line = due[i];
    Show(out, "", LineName(line.trid, line.transaction[kTransNo], line.transaction[kJobNo]));
  }
  if (due.size() > kMaxListed) {
    Show(out, "", "and " + std::to_string(due.size() - kMaxListed) + " more (vornlink cache list)");
  }
}

// Prints how the run ended, its outcomes, what is still due and the cache
// now, then the verdict; returns the exit code that goes with the verdict.
int ShowSummaryAndVerdict(const DeliveryWatch& watch, const RunState& run, Clock::duration took,
                          std::ostream& out) {
  const size_t* tally = run.tally;
  Show(out, "ended",
       "after " + Plural(static_cast<size_t>(watch.passes_ended()), "pass", "passes") + " in " +
           FormatAge(std::chrono::duration_cast<std::chrono::seconds>(took).count()) + ": " +
           run.ended_by);
  std::string sum =
      std::to_string(tally[static_cast<size_t>(LineFate::kDelivered)]) + " delivered, " +
      std::to_string(tally[static_cast<size_t>(LineFate::kRetryLater)]) + " retry later, " +
      std::to_string(tally[static_cast<size_t>(LineFate::kParked)]) + " parked";
  for (LineFate other : {LineFate::kOutcomeUnknown, LineFate::kRemoved, LineFate::kOther}) {
    if (tally[static_cast<size_t>(other)] > 0) {
      sum += ", " + std::to_string(tally[static_cast<size_t>(other)]) + " " + FateName(other);
    }
  }
  Show(out, "outcomes", sum);
  const std::vector<DueLine> due = watch.Due();
  if (!due.empty()) ShowStillDue(out, due);
  for (const std::string& cut : watch.cut_exchanges()) {
    Show(out, "cut by the stop", cut);
    Show(out, "",
         "its query had gone out: the DMS may have booked it; look there before it is "
         "sent again (vornlink cache list shows its line)");
  }
  const std::string unreachable = ReadDmsReach().State();
  if (!due.empty() && !unreachable.empty()) Show(out, "DMS", unreachable);
  std::vector<NumberedRecord> records;
  std::string error;
  if (ReadCacheRecords(&records, &error)) {
    StateCounts counts;
    for (const NumberedRecord& line : records) counts.Add(StateOf(line.record));
    Show(out, "cache now", counts.Summary());
  }
  const size_t parked = tally[static_cast<size_t>(LineFate::kParked)] +
                        tally[static_cast<size_t>(LineFate::kOutcomeUnknown)];
  if (run.lock == TryLockResult::kHeld) {
    Show(out, "verdict",
         "NOT DELIVERING: another worker delivers this cache; let the host "
         "deliver, or stop it before running deliver");
    return kExitOtherWorker;
  }
  if (run.lock == TryLockResult::kUnavailable) {
    Show(out, "verdict",
         "NOT DELIVERING: the delivery lock cannot be taken (vornlink status "
         "tells why)");
    return kExitNoDelivery;
  }
  if (parked > 0) {
    Show(out, "verdict",
         "ATTENTION: " + Plural(parked, "transaction was", "transactions were") +
             " parked or kept aside (outcome unknown) for a person (vornlink cache list)" +
             (due.empty() ? "" : "; some are still due"));
    return kExitParked;
  }
  if (!due.empty()) {
    Show(out, "verdict",
         "STILL DUE: " + Plural(due.size(), "transaction waits", "transactions wait") +
             " for the next delivery (the host's worker, or vornlink deliver again)" +
             (unreachable.empty() ? "" : ": the DMS cannot be reached"));
    return kExitStale;
  }
  Show(out, "verdict", "OK: every transaction that was due is delivered");
  return kExitOk;
}

// Reads the cache's lines into `records`; -1 when the run may start,
// else the exit code, the verdict shown: the cache cannot be read, nothing
// is due, or the delivery lock cannot be had (another worker holds it, or
// it cannot be taken).
int RefuseToStart(std::vector<NumberedRecord>* records, std::ostream& out) {
  std::string error;
  if (!ReadCacheRecords(records, &error)) {
    Show(out, "cache", CacheFilePath() + " cannot be read: " + error);
    return kExitFailed;
  }
  StateCounts counts;
  for (const NumberedRecord& line : *records) counts.Add(StateOf(line.record));
  Show(out, "cache", CacheFilePath() + ": " + counts.Summary());
  if (counts[LineState::kDueNew] + counts[LineState::kDueRetry] == 0) {
    Show(out, "verdict", "OK: nothing is due; the service was not started");
    return kExitOk;
  }
  std::string reason;
  // A lock file this user may not open keeps the worker started here out
  // as well: to this command it is no different from one that cannot be had.
  const LockProbe lock = ProbeDeliveryLock(CacheFilePath(), &reason);
  if (lock != LockProbe::kFree) {
    Show(out, "verdict",
         lock == LockProbe::kHeld
             ? "NOT STARTED: another worker delivers this cache right now (a host runs the driver "
               "for it): let it, or stop the host first"
             : "NOT STARTED: the delivery lock cannot be taken: " + reason);
    return lock == LockProbe::kHeld ? kExitOtherWorker : kExitNoDelivery;
  }
  return -1;
}

}  // namespace

const CommandHelp kDeliverHelp = {
    "deliver",
    CommandGroup::kHost,
    "deliver [--passes N] [--for SECONDS]",
    "start the service, let its worker deliver the\n"
    "cache, print each outcome, stop",
    "The first pass comes at once. Ends when no line is due; without options\n"
    "also after a pass in which the DMS only asked to retry later, or could\n"
    "not be reached. Ctrl+C, SIGTERM, SIGHUP, an output that cannot be\n"
    "written any more and (Windows) a console that closes end it too: the\n"
    "exchange in hand is finished first. Refused while a host's service runs\n"
    "on the same cache.\n"
    "\n"
    "  --passes N    after N passes of the worker\n"
    "  --for SECONDS after SECONDS (and at most 10 s more for the stop, which\n"
    "                finishes an exchange under way)\n",
    "0 everything due was delivered (or nothing was due), 1 the module or\n"
    "the cache cannot be used, 2 usage error, 3 lines were parked or are of\n"
    "unknown outcome, 4 lines are still due (the DMS asked to retry, cannot\n"
    "be reached, or the run ended), 5 the delivery lock cannot be taken, 6 a\n"
    "host's service delivers this cache (not started, or stopped)",
    "Start the service, let its worker deliver the cache (its first pass at\n"
    "once), print each outcome, stop. Refused while a host's service runs on the\n"
    "same cache. Ctrl+C, SIGTERM, SIGHUP, an output that can no longer be\n"
    "written and, on Windows, a console that closes end it the orderly way: the\n"
    "exchange in hand is finished (or, where the system ends the program within\n"
    "seconds, cut and said to be so) before the program ends.\n"};

int RunDeliverCommand(const Driver& driver, const std::vector<std::string>& args, std::ostream& out,
                      std::ostream& err) {
  Options options;
  if (!ParseOptions(args, &options, err)) return kExitUsage;
  // From here on a closing terminal or output ends the run the orderly way:
  // the service is stopped, so that an exchange under way is finished.
  EndRequestWatch end;
  SiteEnv site(driver.module_path);
  out << "vornlink deliver: " << site.ModulePath() << "\n";
  std::vector<NumberedRecord> records;
  const int refused = RefuseToStart(&records, out);
  if (refused >= 0) return refused;
  const std::string log = LogToFollow(out);
  const int stall_seconds = ShowPlan(options, out);
  LogFollower follower(log);  // from before the start: the first pass comes at once
  DeliveryWatch watch(records, !log.empty());
  RunState run;
  out.flush();
  run.ended_by = WhyStopAsked(end, out);
  if (!run.ended_by.empty()) {
    Show(out, "verdict", "NOT STARTED: " + run.ended_by);
    return kExitStale;
  }
  const Clock::time_point started = Clock::now();
  const Clock::time_point deadline = started + std::chrono::seconds(options.seconds);
  Clock::time_point stalled_at = started + std::chrono::seconds(stall_seconds);
  SetProcessEnvironmentValue(kFirstPassAtOnceVariable, "1");
  out << TimeOfDay() << " service started (ExecuteService " << driver.api.execute_service()
      << ")\n";
  out.flush();
  driver.service_started = true;
  for (;;) {
    std::this_thread::sleep_for(kLookInterval);
    bool progress = false;
    if (LookOnce(&follower, &watch, !log.empty(), &run, out, &progress) && progress) {
      // Passes that meet an unreachable DMS come further and further apart.
      const int unreachable = watch.last_pass_unreachable() ? kMaxUnreachableWaitMs / 1000 : 0;
      stalled_at = Clock::now() + std::chrono::seconds(stall_seconds + unreachable);
    }
    run.ended_by =
        WhyEnd(options, watch, run, WhyStopAsked(end, out), deadline, stalled_at, stall_seconds);
    if (!run.ended_by.empty()) break;
  }
  out << TimeOfDay() << " stopping the service (" << run.ended_by
      << "); an exchange under way is finished first"
      << (end.requested() == EndRequest::kClose ? ", or cut within the time left" : "") << "\n";
  out.flush();
  const int32_t stopped = StopInOrder(driver, &end);
  bool progress = false;
  LookOnce(&follower, &watch, !log.empty(), &run, out, &progress);
  out << TimeOfDay() << " service stopped (StopService " << stopped << ")\n";
  return ShowSummaryAndVerdict(watch, run, Clock::now() - started, out);
}

}  // namespace vornlink
