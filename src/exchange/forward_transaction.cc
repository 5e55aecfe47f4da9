#include "exchange/forward_transaction.h"

#include "base/failure_text.h"
#include "base/numbers.h"
#include "exchange/dms_query.h"
#include "exchange/ext_format.h"
#include "exchange/job_number.h"
#include "exchange/reply_peel.h"
#include "exchange/result_list.h"
#include "exchange/setup_ordinals.h"
#include "exchange/transaction_ordinals.h"
#include "log/log.h"
#include "settings/module_files.h"
#include "settings/read_setting.h"
#include "transport/transport_limits.h"

namespace vornlink {
namespace {

// Every line of this exchange begins with the prefix, and its last line
// ends with the words of its outcome.
constexpr std::string_view kLinePrefix = "FWT: ";
constexpr std::string_view kSuccessEnd = "--> SUCCESS";
constexpr std::string_view kRetryEnd = "--> FWT_RETRY_LATER";
constexpr std::string_view kFailedEnd = "--> FAILED --> FWT_NEEDS_ATTENTION";
constexpr std::string_view kStoppedEnd = "--> STOPPED --> stays in the cache";
constexpr std::string_view kCutEnd = "--> CUT BY THE STOP --> stays in the cache";
// Nothing reached the DMS: the line waits; once the outage lasted too long
// it is parked as any failure is, and says why.
constexpr std::string_view kUnreachableEnd = "--> DMS UNREACHABLE --> FWT_RETRY_LATER";
constexpr std::string_view kUnreachableFailedEnd =
    "--> DMS UNREACHABLE --> FAILED --> FWT_NEEDS_ATTENTION";
// The time limit ran out after sending, and the DMS drops the repeat.
constexpr std::string_view kResentEnd =
    "--> OUTCOME UNKNOWN, SENT AGAIN: THE DMS DROPS REPEATS --> FWT_RETRY_LATER";

std::string LineHead(const TransportContext& transport) {
  return std::string(kLinePrefix) + "WorkOrder[" + transport.work_order + "] LineCode[" +
         transport.line_code + "] --> ";
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

ForwardOutcome Classify(const std::string& reply, DmsQuery* run) {
  const std::string normal = NormaliseReply(reply);
  const ResultSettings settings = ReadResultSettings(ExchangeKind::kForwardTransaction);
  const ListItems success = SplitList(settings.first_list, CodeList::kSuccess);
  const ListItems retry = SplitList(settings.second_list, CodeList::kRetryLater);
  if (normal.empty()) throw FailureText("Reply: c[ ] t[Response has zero length]");
  LogPeelSwitch(ExchangeKind::kForwardTransaction, run->peel_switch);
  PeelOptions peel{ExchangeKind::kForwardTransaction, PeelSwitchOn(run->peel_switch)};
  const std::string code = PeelCode(normal, settings.code_spec, peel);
  const std::string text = PeelText(normal, settings.text_spec, peel);
  const std::string verdict = "Reply: c[" + code + "] t[" + text + "] ";
  if (MatchList(code, success, CodeList::kSuccess) != 0) {
    LogWriteLine('.', OneLine(LineHead(run->transport) + verdict + std::string(kSuccessEnd)));
    return ForwardOutcome::kSuccess;
  }
  if (MatchList(code, retry, CodeList::kRetryLater) != 0) {
    LogWriteLine('.', OneLine(LineHead(run->transport) + verdict + std::string(kRetryEnd)));
    return ForwardOutcome::kRetryLater;
  }
  throw FailureText(verdict);
}

// Logs the outcome line of a failure and says what becomes of the line.
// Written as it is: a '%' from a reply is no conversion.
ForwardOutcome Failed(const FailureText& failure, const DmsQuery& run,
                      const ForwardOptions& options, std::string* failure_line) {
  const std::string line = LineHead(run.transport) + failure.text();
  // Whether the DMS, which may have booked it, drops it when it comes again.
  const bool repeat_dropped = run.booking_key_sent && DmsDropsRepeats();
  switch (failure.kind()) {
    case FailureKind::kStopped:
      LogWriteLine('.', OneLine(line + std::string(kStoppedEnd)));
      return ForwardOutcome::kStopped;
    case FailureKind::kCutAfterSending:
      LogWriteLine('.', OneLine(line + std::string(kCutEnd)));
      return repeat_dropped ? ForwardOutcome::kCutRepeatsDropped : ForwardOutcome::kCutAfterSending;
    case FailureKind::kNotReached:
      if (options.park_unreachable) {
        *failure_line = line + std::string(kUnreachableFailedEnd);
        LogWriteLine('*', OneLine(*failure_line));
        return ForwardOutcome::kNeedsAttention;
      }
      LogWriteLine('*', OneLine(line + std::string(kUnreachableEnd)));
      return ForwardOutcome::kUnreachable;
    case FailureKind::kTimeLimitAfterSending:
      if (repeat_dropped) {
        LogWriteLine('*', OneLine(line + " " + std::string(kResentEnd)));
        return ForwardOutcome::kRetryLater;
      }
      *failure_line = line + " " + std::string(kMayHaveBookedNote) + std::string(kFailedEnd);
      LogWriteLine('*', OneLine(*failure_line));
      return ForwardOutcome::kOutcomeUnknown;
    case FailureKind::kOther:
      break;
  }
  *failure_line = line + std::string(kFailedEnd);
  LogWriteLine('*', OneLine(*failure_line));
  return ForwardOutcome::kNeedsAttention;
}

}  // namespace

ForwardOutcome ForwardTransactionExchange(const TransactionFields& fields,
                                          std::string* failure_line, const StopSignal* stop,
                                          const ForwardOptions& options, NetFailure* net) {
  if (net != nullptr) *net = NetFailure::kOther;
  DmsQuery run;
  run.kind = ExchangeKind::kForwardTransaction;
  run.transport.exchange_prefix = "FWT";
  run.transport.stop = stop;
  try {
    const JobParts job =
        WorkOrderAndLineCode(fields[kJobNo], ReadDriverSetting("KMR/System/WoSplit"));
    run.transport.work_order = job.work_order;
    run.transport.line_code = job.line_code;
    ExtFormat format;
    RegisterTransactionOrdinals(fields, job.work_order, job.line_code, &format);
    LoadSetupOrdinals(&format);
    const std::string query = format.Format(ReadDriverSetting("KMR/ForwardTransactionQuery"));
    return Classify(SendToDms(format, query, &run), &run);
  } catch (const FailureText& failure) {
    if (net != nullptr) *net = failure.net();
    return Failed(failure, run, options, failure_line);
  }
}

bool DmsDropsRepeats() {
  return LeadingInt(ReadIniString("ForwardTransaction", "DmsDropsRepeats", "0")) != 0;
}

bool FailureLineMayHaveBooked(std::string_view failure_line) {
  return failure_line.find(kMayHaveBookedNote) != std::string_view::npos;
}

namespace {

// Longer ends before the ends they end with.
const struct OutcomeEnd {
  char flag;
  std::string_view end;
  ForwardOutcome outcome;
  bool unreachable;
} kOutcomeEnds[] = {{'.', kSuccessEnd, ForwardOutcome::kSuccess, false},
                    {'*', kUnreachableEnd, ForwardOutcome::kUnreachable, true},
                    {'*', kResentEnd, ForwardOutcome::kRetryLater, false},
                    {'.', kRetryEnd, ForwardOutcome::kRetryLater, false},
                    {'*', kUnreachableFailedEnd, ForwardOutcome::kNeedsAttention, true},
                    {'*', kFailedEnd, ForwardOutcome::kNeedsAttention, false},
                    {'.', kStoppedEnd, ForwardOutcome::kStopped, false},
                    {'.', kCutEnd, ForwardOutcome::kCutAfterSending, false}};

}  // namespace

bool ForwardOutcomeOfLogEntry(char flag, std::string_view message, ForwardOutcome* outcome,
                              bool* dms_unreachable) {
  if (message.substr(0, kLinePrefix.size()) != kLinePrefix) return false;
  for (const OutcomeEnd& end : kOutcomeEnds) {
    if (flag == end.flag && EndsWith(message, end.end)) {
      *outcome = end.outcome;
      // A failure line with the note: the time limit ran out after sending.
      if (end.outcome == ForwardOutcome::kNeedsAttention && FailureLineMayHaveBooked(message)) {
        *outcome = ForwardOutcome::kOutcomeUnknown;
      }
      if (dms_unreachable != nullptr) *dms_unreachable = end.unreachable;
      return true;
    }
  }
  return false;
}

namespace {

// The work order, the line code and what follows the head of an outcome
// entry ("FWT: WorkOrder[<wo>] LineCode[<lc>] --> "); false without one.
bool SplitHead(std::string_view message, std::string_view* work_order, std::string_view* line_code,
               std::string_view* rest) {
  constexpr std::string_view kHeadStart = "WorkOrder[";
  constexpr std::string_view kLineCode = "] LineCode[";
  constexpr std::string_view kHeadEnd = "] --> ";
  if (message.substr(0, kLinePrefix.size()) != kLinePrefix ||
      message.substr(kLinePrefix.size(), kHeadStart.size()) != kHeadStart) {
    return false;
  }
  const size_t line_code_at = message.find(kLineCode, kLinePrefix.size());
  const size_t head_end = line_code_at == std::string_view::npos
                              ? std::string_view::npos
                              : message.find(kHeadEnd, line_code_at);
  if (head_end == std::string_view::npos) return false;
  const size_t work_order_at = kLinePrefix.size() + kHeadStart.size();
  *work_order = message.substr(work_order_at, line_code_at - work_order_at);
  *line_code =
      message.substr(line_code_at + kLineCode.size(), head_end - line_code_at - kLineCode.size());
  *rest = message.substr(head_end + kHeadEnd.size());
  return true;
}

}  // namespace

bool ForwardLogEntryNamesJob(std::string_view message, std::string_view job_no) {
  std::string_view work_order, line_code, rest;
  if (!SplitHead(message, &work_order, &line_code, &rest)) return false;
  // The head is written on one line: so is the job number compared.
  const std::string job = OneLine(job_no);
  if (job == work_order) return line_code == "NA";  // a job number kept whole
  return job.size() == work_order.size() + 1 + line_code.size() &&
         job.compare(0, work_order.size(), work_order) == 0 && job[work_order.size()] == '.' &&
         job.compare(work_order.size() + 1, std::string::npos, line_code) == 0;
}

std::string_view ForwardVerdictOfLogEntry(std::string_view message) {
  std::string_view work_order, line_code, verdict;
  if (!SplitHead(message, &work_order, &line_code, &verdict)) return message;
  for (const OutcomeEnd& end : kOutcomeEnds) {
    if (EndsWith(verdict, end.end)) {
      verdict.remove_suffix(end.end.size());
      break;
    }
  }
  while (!verdict.empty() && verdict.back() == ' ') verdict.remove_suffix(1);
  return verdict;
}

}  // namespace vornlink
