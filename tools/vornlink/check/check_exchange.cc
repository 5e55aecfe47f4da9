#include "vornlink/check/check_exchange.h"

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

void ExchangeCheck::JobNumbers() {
  report_->Heading("Job numbers (KMR/System/WoSplit)");
  const std::string wo_split = ReadDriverSetting("KMR/System/WoSplit");
  if (KeepsJobNoWhole(wo_split)) {
    report_->Value("WoSplit", "[0] the whole job number is the work order, the line code NA");
    return;
  }
  const int32_t width = WorkOrderWidth(wo_split);
  if (width < 1) {
    report_->Value("WoSplit", Bracketed(wo_split));
    report_->Problem("KMR/System/WoSplit " + Bracketed(wo_split) +
                     " reads as width 0: every job number is rejected; give the work order's "
                     "width, or 0 for no split");
    return;
  }
  report_->Value("WoSplit", Bracketed(wo_split) + " a work order of " + std::to_string(width) +
                                " characters, '.', the line code");
}

void ExchangeCheck::Issue(bool forward, const std::string& text) {
  if (forward || validation_gate_) {
    report_->Problem(text);
  } else {
    report_->Warning(text + " (matters when the host asks IsJobnoValid)");
  }
}

bool ExchangeCheck::Fetch(bool forward, const ExtFormat& format, const std::string& item,
                          std::string* value) {
  try {
    *value = format.Format("%@" + item);
    return true;
  } catch (const FailureText& failure) {
    Issue(forward, std::string(forward ? "forward transaction" : "job validation") +
                       ": the Setup item <" + item + "> is missing: the exchange stops with " +
                       Bracketed(failure.text()));
    return false;
  }
}

std::string ExchangeCheck::Render(bool forward, const ExtFormat& format, const std::string& text) {
  ExtFormat probe = format;
  for (int round = 0; round < 100; ++round) {
    try {
      return probe.Format(text);
    } catch (const FailureText& failure) {
      const std::string& why = failure.text();
      const std::string ordinal = ExtFormat::MissingOrdinalOf(why);
      if (ordinal.empty()) {
        Issue(forward, std::string(forward ? "forward" : "validation") +
                           " query template: " + Bracketed(why) + ": nothing is sent");
        return std::string();
      }
      Issue(forward, std::string(forward ? "the forward" : "the validation") +
                         " query template uses %@" + ordinal +
                         ", which no transaction value or Setup item registers: the exchange "
                         "stops with " +
                         Bracketed(why));
      probe.AddString(ordinal, "%@" + ordinal);
    }
  }
  return std::string();
}

void ExchangeCheck::Exchange(ExchangeKind kind) {
  const bool forward = kind == ExchangeKind::kForwardTransaction;
  const std::string prefix = forward ? "FWT" : "IJV";
  const char own = forward ? 'F' : 'J';
  report_->Heading(forward ? "Forward transaction (FWT): each cached transaction"
                           : "Job validation (IJV): IsJobnoValid and the Validation gate");
  const TransactionFields& t = sample_.transaction;
  const std::string job_no = forward ? t[kJobNo] : sample_.job_no;
  if (forward) {
    report_->Value("sample transaction",
                   TransactionCsv(t) + (sample_.transaction_given ? "" : " (built in)"));
  } else {
    report_->Value("sample job number", job_no + (sample_.job_given ? "" : " (built in)"));
  }
  JobParts job;
  bool split = true;
  try {
    job = WorkOrderAndLineCode(job_no, ReadDriverSetting("KMR/System/WoSplit"));
    report_->Value("work order, line code",
                   Bracketed(job.work_order) + " " + Bracketed(job.line_code));
  } catch (const FailureText& failure) {
    split = false;
    const std::string text =
        "the sample job number " + Bracketed(job_no) + " is rejected: " + failure.text();
    // A job number the operator typed says nothing about the settings.
    if (sample_.job_given || (forward && sample_.transaction_given)) {
      report_->Warning(text);
    } else {
      report_->Note(text);
    }
    job.work_order = "%@07";
    job.line_code = "%@17";
  }
  ExtFormat format;
  if (forward) {
    try {
      RegisterTransactionOrdinals(t, job.work_order, job.line_code, &format);
    } catch (const FailureText& failure) {
      report_->Warning("the sample transaction's date or time is no YYMMDD and HHMMSS: " +
                       failure.text());
    }
    UserMapping(t[kUserId], format);
  } else {
    format.AddString("01", job.work_order);
    format.AddString("11", job.line_code);
  }
  LoadSetupOrdinals(&format);

  const std::string path = forward ? "KMR/ForwardTransactionQuery" : "KMR/IsJobValidQuery";
  const std::string query_template = ReadDriverSetting(path);
  if (query_template.empty()) {
    Issue(forward, std::string("no query template <") + path.substr(4) +
                       ">: the DMS would get an empty query");
  }
  const std::string query = Render(forward, format, query_template);

  std::string type;
  const bool typed = Fetch(forward, format, "TP", &type);
  std::string sent = QueryAsSent(query, kind, type);
  if (typed) Transport(forward, format, type, own, prefix, sent);
  const bool carriage_return = !sent.empty() && sent.back() == '\r';
  report_->Value("query as sent",
                 std::to_string(sent.size()) + " bytes" +
                     (carriage_return ? ", the last a carriage return" : "") +
                     (split ? "" : " (the job number's parts left as %@07 and %@17)"));
  report_->Block(sent);
  if (forward) BookingKeyUse(format, sent);
  ReplyRules(kind, job);
}

void ExchangeCheck::UserMapping(const std::string& user_id, const ExtFormat& format) {
  const ExtFormat::Entry* user = format.Find("03");
  if (user == nullptr) return;
  report_->Value(
      "DMS user (%@03)",
      Bracketed(user->text) +
          (user->text == user_id
               ? " the host's user number itself: KMR/UserID holds no E" + user_id
               : " for host user " + Bracketed(user_id) + " (KMR/UserID/E" + user_id + ")"));
}

void ExchangeCheck::BookingKeyUse(const ExtFormat& format, const std::string& sent) {
  const ExtFormat::Entry* key = format.Find(kBookingKeyOrdinal);
  if (key == nullptr) return;
  const bool sent_key = !key->text.empty() && (sent.find(key->text) != std::string::npos ||
                                               sent_headers_.find(key->text) != std::string::npos);
  report_->Value("booking key (%@TK)",
                 Bracketed(key->text) +
                     (sent_key ? " sent: the DMS can drop a booking sent again"
                               : " not sent: the DMS cannot tell a booking sent again after "
                                 "a restart from a new one"));
  if (sent_key) {
    report_->Value("", DmsDropsRepeats()
                           ? "[ForwardTransaction] DmsDropsRepeats: it does, so a booking "
                             "whose outcome is unknown is sent again on its own"
                           : "[ForwardTransaction] DmsDropsRepeats is off: a booking whose "
                             "outcome is unknown waits for a person");
  }
}

bool CheckExchanges(const ExchangeSample& sample, bool validation_gate, CheckReport* report) {
  return ExchangeCheck(sample, validation_gate, report).Run();
}

}  // namespace vornlink
