#include "exchange/forward_transaction.h"

#include "base/failure_text.h"
#include "exchange/dms_query.h"
#include "exchange/ext_format.h"
#include "exchange/job_number.h"
#include "exchange/reply_peel.h"
#include "exchange/result_list.h"
#include "exchange/setup_ordinals.h"
#include "exchange/transaction_ordinals.h"
#include "log/log.h"
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

}  // namespace

ForwardOutcome ForwardTransactionExchange(const TransactionFields& fields,
                                          std::string* failure_line, const StopSignal* stop) {
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
    if (IsStopFailure(failure.text())) {
      const bool went_out = QueryWentOut(failure.text());
      LogWriteLine('.', OneLine(LineHead(run.transport) + failure.text() +
                                std::string(went_out ? kCutEnd : kStoppedEnd)));
      return went_out ? ForwardOutcome::kCutAfterSending : ForwardOutcome::kStopped;
    }
    // Written as it is: a '%' from a reply is no conversion.
    *failure_line = LineHead(run.transport) + failure.text();
    if (TimeLimitAfterSending(failure)) *failure_line += " " + std::string(kMayHaveBookedNote);
    *failure_line += kFailedEnd;
    LogWriteLine('*', OneLine(*failure_line));
    return ForwardOutcome::kNeedsAttention;
  }
}

bool FailureLineMayHaveBooked(std::string_view failure_line) {
  return failure_line.find(kMayHaveBookedNote) != std::string_view::npos;
}

namespace {

const struct OutcomeEnd {
  char flag;
  std::string_view end;
  ForwardOutcome outcome;
} kOutcomeEnds[] = {{'.', kSuccessEnd, ForwardOutcome::kSuccess},
                    {'.', kRetryEnd, ForwardOutcome::kRetryLater},
                    {'*', kFailedEnd, ForwardOutcome::kNeedsAttention},
                    {'.', kStoppedEnd, ForwardOutcome::kStopped},
                    {'.', kCutEnd, ForwardOutcome::kCutAfterSending}};

}  // namespace

bool ForwardOutcomeOfLogEntry(char flag, std::string_view message, ForwardOutcome* outcome) {
  if (message.substr(0, kLinePrefix.size()) != kLinePrefix) return false;
  for (const OutcomeEnd& end : kOutcomeEnds) {
    if (flag == end.flag && EndsWith(message, end.end)) {
      *outcome = end.outcome;
      return true;
    }
  }
  return false;
}

std::string_view ForwardVerdictOfLogEntry(std::string_view message) {
  constexpr std::string_view kHeadStart = "WorkOrder[";
  constexpr std::string_view kHeadEnd = "] --> ";
  if (message.substr(0, kLinePrefix.size()) != kLinePrefix ||
      message.substr(kLinePrefix.size(), kHeadStart.size()) != kHeadStart) {
    return message;
  }
  const size_t line_code = message.find("] LineCode[", kLinePrefix.size());
  const size_t head_end = line_code == std::string_view::npos ? std::string_view::npos
                                                              : message.find(kHeadEnd, line_code);
  if (head_end == std::string_view::npos) return message;
  std::string_view verdict = message.substr(head_end + kHeadEnd.size());
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
