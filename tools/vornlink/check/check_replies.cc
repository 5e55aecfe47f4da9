#include <algorithm>
#include <cctype>

#include "base/failure_text.h"
#include "exchange/booking_key.h"
#include "exchange/dms_query.h"
#include "exchange/ext_format.h"
#include "exchange/forward_transaction.h"
#include "exchange/job_number.h"
#include "exchange/reply_peel.h"
#include "exchange/result_list.h"
#include "exchange/setup_ordinals.h"
#include "exchange/transaction_ordinals.h"
#include "settings/read_setting.h"
#include "transport/http_headers.h"
#include "transport/tcp_transport.h"
#include "vornlink/check/exchange_check.h"

namespace vornlink {
namespace {

int CountOf(const std::string& text, char c) {
  return static_cast<int>(std::count(text.begin(), text.end(), c));
}

}  // namespace

void ExchangeCheck::Peel(const std::string& item, const std::string& value) {
  report_->Value("reply peel (" + item + ")",
                 Bracketed(value) + (PeelSwitchOn(value) ? " the reply is first cut to the Level "
                                                           "element"
                                                         : " off: the element is found anywhere"));
}

void ExchangeCheck::ReplyRules(ExchangeKind kind, const JobParts& job) {
  const bool forward = kind == ExchangeKind::kForwardTransaction;
  const std::string root = forward ? "KMR/ForwardTransactionResult/" : "KMR/IsJobValidResult/";
  const ResultSettings settings = ReadResultSettings(kind);
  report_->Value("reply code from", Bracketed(settings.code_spec) + " (" + root + "Result)");
  if (settings.code_spec.empty()) {
    Issue(forward, root +
                       "Result is empty: every reply gives an empty code, which matches no "
                       "list");
  } else if (CountOf(settings.code_spec, '/') != 1) {
    Issue(forward, root + "Result " + Bracketed(settings.code_spec) +
                       " must hold exactly one \"/\" (Level/Parameter)");
  }
  report_->Value("reply text from", Bracketed(settings.text_spec) + " (" + root + "Description)");
  if (!settings.text_spec.empty() && CountOf(settings.text_spec, '/') != 1) {
    Issue(forward, root + "Description " + Bracketed(settings.text_spec) +
                       " must hold exactly one \"/\" (Level/Parameter)");
  }
  const ListItems first =
      SplitList(settings.first_list, forward ? CodeList::kSuccess : CodeList::kValid);
  const std::string first_name = forward ? "SuccessResult" : "ValidResult";
  CodeListLine(forward, forward ? "success codes" : "valid codes", root + first_name,
               settings.first_list, first);
  if (first[0].empty()) {
    Issue(forward, root + first_name + " is empty: " +
                       (forward ? "every transaction is parked as failed"
                                : "every job number is NOT VALID"));
  }
  if (forward) {
    const ListItems retry = SplitList(settings.second_list, CodeList::kRetryLater);
    CodeListLine(true, "retry-later codes", root + "RetryResult", settings.second_list, retry);
    for (const std::string& code : retry) {
      if (!code.empty() && std::find(first.begin(), first.end(), code) != first.end()) {
        report_->Warning("the code " + Bracketed(code) +
                         " is a success code and a retry-later code: it counts as success");
      }
    }
  } else {
    report_->Note("a reply is valid only if it holds <RONumber>" + job.work_order +
                  "</RONumber> and <LineCode>" + job.line_code + "</LineCode>");
  }
}

void ExchangeCheck::CodeListLine(bool forward, const std::string& label, const std::string& path,
                                 const std::string& list, const ListItems& items) {
  std::string shown;
  size_t used = 0;
  for (const std::string& code : items) {
    if (code.empty()) continue;
    if (!shown.empty()) shown += " ";
    shown += Bracketed(code);
    used += code.size() + 1;
    if (code[0] == ',') {
      report_->Warning(path + " " + Bracketed(list) + ": two commas in a row give the code " +
                       Bracketed(code) + ", which no reply matches");
    } else if (code.find_first_of(" \t") != std::string::npos) {
      report_->Warning(path + ": the code " + Bracketed(code) +
                       " holds a blank; a reply code matches only if it holds the same blank");
    }
  }
  report_->Value(label, shown.empty() ? "(none)" : shown);
  if (used < list.size() && !items[kListItemCount - 1].empty()) {
    report_->Warning(path + " " + Bracketed(list) + ": only the first five codes are used");
  }
}

}  // namespace vornlink
