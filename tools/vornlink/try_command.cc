#include "vornlink/try_command.h"

#include <ostream>

#include "base/failure_text.h"
#include "exchange/ext_format.h"
#include "exchange/forward_transaction.h"
#include "exchange/job_validation.h"
#include "exchange/setup_ordinals.h"
#include "log/log.h"
#include "transport/transport_context.h"
#include "vornlink/commands.h"
#include "vornlink/exchange_sample.h"
#include "vornlink/module_site.h"
#include "vornlink/text_output.h"

namespace vornlink {
namespace {

// The value of the first entry with `flag` whose label (the text before
// its '[', blanks around it dropped) is `label`: the text between that
// '[' and the last ']', without a line break right after the '['.
bool FindValue(const std::vector<CapturedEntry>& entries, char flag, const std::string& label,
               std::string* value) {
  for (const CapturedEntry& entry : entries) {
    if (entry.flag != flag) continue;
    const std::string& text = entry.message;
    size_t open = text.find('[');
    size_t close = text.rfind(']');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    size_t begin = text.find_first_not_of(' ');
    size_t end = text.find_last_not_of(' ', open - 1);
    if (begin == std::string::npos || end == std::string::npos || end < begin ||
        text.compare(begin, end - begin + 1, label) != 0) {
      continue;
    }
    *value = text.substr(open + 1, close - open - 1);
    if (value->compare(0, 2, "\r\n") == 0) value->erase(0, 2);
    return true;
  }
  return false;
}

// The exchange's verdict line: the last "." or "*" entry that begins with
// `prefix` ("FWT: " or "IJV: ").
std::string Verdict(const std::vector<CapturedEntry>& entries, const std::string& prefix) {
  std::string line;
  for (const CapturedEntry& entry : entries) {
    if ((entry.flag == '.' || entry.flag == '*') && entry.message.compare(0, 5, prefix) == 0) {
      line = entry.message;
    }
  }
  return line;
}

void Show(std::ostream& out, const std::string& label, const std::string& value) {
  out << "  " << Padded(label, 16) << " " << value << "\n";
}

// Where the exchange went, as the driver's lines tell it; for TCP, which
// logs no address, from the Setup items.
void ShowConnection(std::ostream& out, const std::vector<CapturedEntry>& entries,
                    const std::string& prefix) {
  std::string type, value;
  if (FindValue(entries, 'h', "Transport type", &type)) {
    std::string line = type;
    if (FindValue(entries, 'h', prefix + " Method", &value)) {
      line += SendsPost(value) ? " POST" : " GET";
    }
    if (FindValue(entries, 'h', prefix + " URL", &value)) line += " " + value;
    Show(out, "connection", line);
    if (FindValue(entries, 'h', prefix + " UserName", &value)) {
      std::string password;
      FindValue(entries, 'h', prefix + " PassWord", &password);
      Show(out, "credentials", "user [" + value + "], password [" + password + "]");
    }
    if (FindValue(entries, 'h', "Additional header", &value)) {
      Show(out, "extra headers", "(secrets masked)");
      PrintBlock(out, value);
    }
    return;
  }
  ExtFormat format;
  LoadSetupOrdinals(&format);
  try {
    if (format.Format("%@TP") == "TCP") {
      Show(out, "connection", "TCP " + format.Format("%@SR") + " port " + format.Format("%@PO"));
    }
  } catch (const FailureText&) {
    // The exchange's own verdict says what is missing.
  }
}

void ShowExchange(std::ostream& out, const std::vector<CapturedEntry>& entries,
                  const std::string& prefix, bool verbose) {
  ShowConnection(out, entries, prefix);
  std::string value;
  if (FindValue(entries, 'h', "Send to DMS", &value) ||
      FindValue(entries, 't', "Send to DMS", &value)) {
    Show(out, "request as sent", std::to_string(value.size()) + " bytes:");
    PrintBlock(out, value);
  } else {
    Show(out, "request", "nothing was sent");
  }
  if (FindValue(entries, 'd', "Reply from DMS", &value) ||
      FindValue(entries, 'd', "Reply from server", &value)) {
    Show(out, "reply", std::to_string(value.size()) + " bytes:");
    PrintBlock(out, value);
  }
  if (FindValue(entries, 'r', "Result", &value)) {
    std::string text;
    FindValue(entries, 'r', "Description", &text);
    Show(out, "code and text", "c[" + value + "] t[" + text + "]");
  }
  if (verbose) {
    Show(out, "driver's log", "every line of this exchange:");
    for (const CapturedEntry& entry : entries) {
      out << "    " << entry.flag << " " << entry.message << "\n";
    }
  }
}

const char* ForwardMeaning(ForwardOutcome outcome) {
  switch (outcome) {
    case ForwardOutcome::kSuccess:
      return "SUCCESS: the worker would remove the line from the cache";
    case ForwardOutcome::kRetryLater:
      return "RETRY LATER: the worker would keep the line due and send it again";
    case ForwardOutcome::kNeedsAttention:
      return "FAILED: the worker would park the line for a person";
    case ForwardOutcome::kStopped:
    case ForwardOutcome::kCutAfterSending:
      break;
  }
  return "STOPPED";
}

}  // namespace

int RunTryCommand(const std::string& module_path, const std::vector<std::string>& args,
                  std::ostream& out, std::ostream& err) {
  ExchangeSample sample;
  std::vector<std::string> rest;
  if (!ParseSampleOptions(args, &sample, &rest, err)) return kExitUsage;
  bool forward = true;
  bool validate = true;
  bool verbose = false;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == "--verbose") {
      verbose = true;
    } else if (rest[i] == "--only" && i + 1 < rest.size() &&
               (rest[i + 1] == "forward" || rest[i + 1] == "validate")) {
      forward = rest[++i] == "forward";
      validate = !forward;
    } else {
      err << "vornlink try: unknown argument " << rest[i]
          << " (--transaction F1,...,F12, --job JOBNO, --only forward|validate, --verbose)\n";
      return kExitUsage;
    }
  }
  ModuleSite site(module_path);
  CompleteSample(&sample);
  site.CaptureLog(kDriverLogFlags);
  site.TakeLog();
  out << "vornlink try: the driver's exchanges for " << site.ModulePath()
      << " (the cache file and the log stay untouched)\n";

  bool all_good = true;
  if (validate) {
    out << "\n== Job validation of " << sample.job_no << "\n";
    const JobVerdict verdict = ValidateJob(sample.job_no, nullptr);
    const std::vector<CapturedEntry> entries = site.TakeLog();
    ShowExchange(out, entries, "IJV", verbose);
    Show(out, "outcome",
         verdict == JobVerdict::kValid      ? "VALID"
         : verdict == JobVerdict::kNotValid ? "NOT VALID: the DMS does not know it"
         : verdict == JobVerdict::kNotSplit
             ? "NOT VALID: it does not split as KMR/System/WoSplit says; the DMS was not asked"
             : "NOT VALID: no answer could be judged");
    Show(out, "driver's line", Verdict(entries, "IJV: "));
    all_good = all_good && verdict == JobVerdict::kValid;
  }
  if (forward) {
    out << "\n== Forward transaction " << TransactionCsv(sample.transaction) << "\n";
    std::string failure_line;
    const ForwardOutcome outcome =
        ForwardTransactionExchange(sample.transaction, &failure_line, nullptr);
    const std::vector<CapturedEntry> entries = site.TakeLog();
    ShowExchange(out, entries, "FWT", verbose);
    Show(out, "outcome", ForwardMeaning(outcome));
    Show(out, "driver's line", Verdict(entries, "FWT: "));
    all_good = all_good && outcome == ForwardOutcome::kSuccess;
  }
  return all_good ? kExitOk : kExitFailed;
}

}  // namespace vornlink
