#include "exchange/job_validation.h"

#include "base/failure_text.h"
#include "exchange/dms_query.h"
#include "exchange/ext_format.h"
#include "exchange/job_number.h"
#include "exchange/log_lines.h"
#include "exchange/reply_peel.h"
#include "exchange/result_list.h"
#include "exchange/setup_ordinals.h"
#include "log/log.h"
#include "settings/read_setting.h"

namespace vornlink {
namespace {

std::string LineHead(const TransportContext& transport) {
  return "IJV: WorkOrder[" + transport.work_order + "] LineCode[" + transport.line_code + "] --> ";
}

// A failure that comes from the DMS's own answer: the job is not valid.
// Every other failure leaves the question open.
class NotValid : public FailureText {
 public:
  using FailureText::FailureText;
};

// A job number that the settings cannot split.
class NotSplit : public FailureText {
 public:
  using FailureText::FailureText;
};

std::string FallbackDescription(const std::string& code) {
  if (code == "0") return "Ok";
  if (code == "2") return "Order is locked";
  return "Unknown";
}

void Judge(const std::string& reply, DmsQuery* run) {
  const std::string normal = NormaliseReply(reply);
  const ResultSettings settings = ReadResultSettings(ExchangeKind::kJobValidation);
  const TransportContext& job = run->transport;
  // An empty reply tells nothing about the job.
  if (normal.find("<RONumber>" + job.work_order + "</RONumber>") == std::string::npos) {
    if (normal.empty()) throw FailureText("c[Synthetic] t[Invalid work order]");
    throw NotValid("c[Synthetic] t[Invalid work order]");
  }
  if (normal.find("<LineCode>" + job.line_code + "</LineCode>") == std::string::npos) {
    throw NotValid("c[Synthetic] t[Invalid LineCode]");
  }
  const ListItems valid = SplitList(settings.first_list, CodeList::kValid);
  LogPeelSwitch(ExchangeKind::kJobValidation, run->peel_switch);
  PeelOptions peel{ExchangeKind::kJobValidation, PeelSwitchOn(run->peel_switch)};
  const std::string code = PeelCode(normal, settings.code_spec, peel);
  std::string description = PeelText(normal, settings.text_spec, peel);
  if (description.empty()) description = FallbackDescription(code);
  LogDescription(description);
  if (MatchList(code, valid, CodeList::kValid) == 0) {
    throw NotValid("Reply: c[" + code + "] t[" + description + "] ");
  }
  LogWriteLine('.',
               OneLine(LineHead(job) + "Reply: c[" + code + "] t[" + description + "] --> VALID"));
}

}  // namespace

JobVerdict ValidateJob(const std::string& job_no, const StopSignal* stop, std::string* why,
                       NetFailure* net) {
  DmsQuery run;
  run.kind = ExchangeKind::kJobValidation;
  run.transport.exchange_prefix = "IJV";
  run.transport.stop = stop;
  auto refuse = [&](const FailureText& failure, JobVerdict verdict) {
    LogWriteLine('*', OneLine(LineHead(run.transport) + failure.text() + "--> NOT VALID"));
    if (why != nullptr) *why = failure.text();
    if (net != nullptr) *net = failure.net();
    return verdict;
  };
  if (net != nullptr) *net = NetFailure::kOther;
  try {
    const std::string wo_split = ReadDriverSetting("KMR/System/WoSplit");
    JobParts job;
    try {
      job = WorkOrderAndLineCode(job_no, wo_split);
    } catch (const FailureText& failure) {
      // Without a width (no settings document, no WoSplit) the settings
      // are at fault, not the job number.
      if (WorkOrderWidth(wo_split) < 1) throw;
      throw NotSplit(failure.text());
    }
    run.transport.work_order = job.work_order;
    run.transport.line_code = job.line_code;
    ExtFormat format;
    format.AddString("01", job.work_order);
    format.AddString("11", job.line_code);
    LoadSetupOrdinals(&format);
    const std::string query = format.Format(ReadDriverSetting("KMR/IsJobValidQuery"));
    Judge(SendToDms(format, query, &run), &run);
    return JobVerdict::kValid;
  } catch (const NotValid& refusal) {
    return refuse(refusal, JobVerdict::kNotValid);
  } catch (const NotSplit& refusal) {
    return refuse(refusal, JobVerdict::kNotSplit);
  } catch (const FailureText& failure) {
    return refuse(failure, JobVerdict::kNoVerdict);
  }
}

}  // namespace vornlink
