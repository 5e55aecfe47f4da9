#include "vornlink/check_command.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <ostream>
#include <random>

#include "base/failure_text.h"
#include "cache/cache_file.h"
#include "cache/cache_worker.h"
#include "exchange/dms_query.h"
#include "exchange/ext_format.h"
#include "exchange/job_number.h"
#include "exchange/reply_peel.h"
#include "exchange/result_list.h"
#include "exchange/setup_ordinals.h"
#include "exchange/transaction_ordinals.h"
#include "log/log.h"
#include "platform/env.h"
#include "settings/module_files.h"
#include "settings/numbers.h"
#include "settings/read_setting.h"
#include "settings/text_lines.h"
#include "transport/http_headers.h"
#include "transport/transport_limits.h"
#include "ui/properties_rows.h"
#include "vornlink/commands.h"
#include "vornlink/exchange_sample.h"
#include "vornlink/module_site.h"
#include "vornlink/pem_certificates.h"
#include "vornlink/settings_lint.h"

namespace vornlink {
namespace {

constexpr size_t kLabelWidth = 22;
// The largest trust file the driver reads.
constexpr size_t kMaxTrustFileBytes = size_t{8} << 20;
// Flag letters the driver writes lines with.
constexpr char kDriverFlags[] = "cdhinprst";
constexpr char kMissingOrdinal[] = "Ordinal does not exist in this context] @[";

// The report: sections of labelled values, and the problems and warnings
// found, each printed where it is found and again in the summary.
class Report {
 public:
  explicit Report(std::ostream& out) : out_(out) {}

  void Heading(const std::string& title) { out_ << "\n== " << title << "\n"; }

  void Value(const std::string& label, const std::string& value) {
    out_ << "  " << label;
    if (label.size() < kLabelWidth) out_ << std::string(kLabelWidth - label.size(), ' ');
    out_ << " " << value << "\n";
  }

  // A text as it stands, line by line.
  void Block(const std::string& text) {
    for (std::string_view line : SplitLines(text)) out_ << "    | " << line << "\n";
    if (text.empty()) out_ << "    | (empty)\n";
  }

  void Note(const std::string& text) { out_ << "  note: " << text << "\n"; }

  void Problem(const std::string& text) {
    out_ << "  PROBLEM: " << text << "\n";
    problems_.push_back(text);
  }

  void Warning(const std::string& text) {
    out_ << "  warning: " << text << "\n";
    warnings_.push_back(text);
  }

  int Finish() {
    Heading("Summary");
    for (const std::string& text : problems_) out_ << "  PROBLEM: " << text << "\n";
    for (const std::string& text : warnings_) out_ << "  warning: " << text << "\n";
    out_ << "vornlink check: " << problems_.size()
         << (problems_.size() == 1 ? " problem, " : " problems, ") << warnings_.size()
         << (warnings_.size() == 1 ? " warning" : " warnings")
         << (problems_.empty() ? ": the driver can work with these settings"
                               : ": the driver would fail with these settings")
         << "\n";
    return problems_.empty() ? kExitOk : kExitFailed;
  }

 private:
  std::ostream& out_;
  std::vector<std::string> problems_;
  std::vector<std::string> warnings_;
};

std::string Bracketed(const std::string& text) { return "[" + text + "]"; }

std::string FileName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsAbsolute(const std::string& path) {
#ifdef _WIN32
  return (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
         path.compare(0, 2, "\\\\") == 0;
#else
  return !path.empty() && path[0] == '/';
#endif
}

// `url` with the password of a "user:password@" part masked.
std::string MaskedUrl(const std::string& url) {
  size_t scheme = url.find("://");
  size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  size_t at = url.find('@', start);
  size_t slash = url.find('/', start);
  if (at == std::string::npos || (slash != std::string::npos && slash < at)) return url;
  size_t colon = url.find(':', start);
  if (colon == std::string::npos || colon > at) return url;
  return url.substr(0, colon + 1) + kMaskedSecret + url.substr(at);
}

// What is wrong with an HTTP URL for the transport `type`, or empty.
std::string UrlProblem(const std::string& url, const std::string& type, bool* scheme_differs) {
  *scheme_differs = false;
  size_t scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return "no scheme (http:// or https://)";
  std::string scheme = url.substr(0, scheme_end);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (scheme != "http" && scheme != "https")
    return "the scheme is " + scheme + ", not http or https";
  *scheme_differs = (scheme == "https") != (type == "HTTPS");
  std::string authority = url.substr(scheme_end + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  authority =
      authority.substr(authority.find('@') == std::string::npos ? 0 : authority.find('@') + 1);
  if (authority.empty()) return "no host name";
  size_t bracket = authority[0] == '[' ? authority.find(']') : 0;  // [IPv6]
  if (bracket == std::string::npos) return "an unclosed \"[\" in the host";
  size_t colon = authority.find(':', bracket);
  std::string host = authority.substr(0, colon);
  if (host.empty()) return "no host name";
  if (colon != std::string::npos) {
    const std::string port = authority.substr(colon + 1);
    if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos ||
        port.size() > 5 || std::stoi(port) < 1 || std::stoi(port) > 65535) {
      return "the port " + Bracketed(port) + " is no number from 1 to 65535";
    }
  }
  return std::string();
}

int CountOf(const std::string& text, char c) {
  return static_cast<int>(std::count(text.begin(), text.end(), c));
}

// The current UTC time as "YYYYMMDDHHMMSS".
std::string UtcNowKey() {
  std::time_t now = static_cast<std::time_t>(GetEnv()->UnixTime());
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &utc);
  return text;
}

// Whether a new file may be made in the folder of `path`: one is made
// (exclusively, under a name nobody else uses) and removed again.
bool MayMakeFilesBeside(const std::string& path, std::string* error) {
  std::random_device random;
  const std::string probe = path + ".vornlink-check-" + std::to_string(random()) + ".tmp";
  if (GetEnv()->ReplaceTextFile(probe, std::string(), ReplaceOptions{}, error) ==
      ReplaceResult::kFailed) {
    return false;
  }
  std::error_code ignored;
  std::filesystem::remove(probe, ignored);
  return true;
}

class Checker {
 public:
  Checker(std::ostream& out, const ExchangeSample& sample) : report_(out), sample_(sample) {}

  int Run(const std::string& module_path) {
    Files(module_path);
    Gates();
    Log();
    JobNumbers();
    Exchange(ExchangeKind::kForwardTransaction);
    Exchange(ExchangeKind::kJobValidation);
    Trust();
    TimeLimit();
    Cache();
    return report_.Finish();
  }

 private:
  // ---- files beside the module

  void Files(const std::string& module_path) {
    report_.Heading("Files beside the module");
    std::error_code error;
    const bool present = std::filesystem::is_regular_file(module_path, error);
    report_.Value("module", module_path + (present ? "" : " (no such file)"));
    if (!present) {
      report_.Warning("no module file at " + module_path +
                      ": the settings are checked for a module that would lie there");
    }

    const std::string ini = IniFilePath();
    std::string contents, reason;
    switch (GetEnv()->ReadTextFile(ini, &contents, kMaxSettingsFileSize, &reason)) {
      case ReadResult::kOk:
        report_.Value("INI file", ini + " (" + std::to_string(contents.size()) + " bytes)");
        for (const LintFinding& finding : LintIniFile(contents)) {
          report_.Warning(FileName(ini) + " line " + std::to_string(finding.line) + ": " +
                          finding.text);
        }
        break;
      case ReadResult::kMissing:
        report_.Value("INI file", ini + " (missing)");
        report_.Warning(FileName(ini) + " is missing: every INI value takes its default");
        break;
      case ReadResult::kError:
        report_.Value("INI file", ini);
        report_.Problem(FileName(ini) + " cannot be read (" + reason +
                        "): the driver works with the defaults instead of the site's values");
        break;
    }

    const std::string xml = SettingsFilePath();
    switch (GetEnv()->ReadTextFile(xml, &document_, kMaxSettingsFileSize, &reason)) {
      case ReadResult::kOk:
        report_.Value("settings document",
                      xml + " (" + std::to_string(document_.size()) + " bytes)");
        SettingsDocument(xml);
        break;
      case ReadResult::kMissing:
        report_.Value("settings document", xml + " (missing)");
        report_.Problem(FileName(xml) +
                        " is missing: the driver has no queries, reply rules or connection values");
        break;
      case ReadResult::kError:
        report_.Value("settings document", xml);
        report_.Problem(FileName(xml) + " cannot be read (" + reason + ")");
        break;
    }
  }

  void SettingsDocument(const std::string& xml) {
    for (const LintFinding& finding : LintSettingsDocument(document_)) {
      const std::string text =
          FileName(xml) + " line " + std::to_string(finding.line) + ": " + finding.text;
      if (finding.problem) {
        report_.Problem(text);
      } else {
        report_.Warning(text);
      }
    }
    PropertyList rows = ReadPropertyRows(xml);
    if (rows.problem.empty()) {
      report_.Value("Properties dialog", "lists " + std::to_string(rows.rows.size()) +
                                             " Setup items (the document is well-formed XML)");
    } else {
      report_.Warning(
          "the Properties dialog cannot list the Setup items (the driver itself "
          "reads the document as lines and does not need it): " +
          OneLine(rows.problem));
    }
  }

  // ---- the INI file's gates

  void Gates() {
    report_.Heading("Gates in front of the cache ([ForwardTransaction] in the INI file)");
    const std::string enable = ReadIniString("ForwardTransaction", "Enable", "1");
    const bool enabled = LeadingInt(enable) != 0;
    report_.Value("Enable", Bracketed(enable) + (enabled ? " transactions are forwarded"
                                                         : " every transaction is held back"));
    if (!enabled) {
      report_.Warning("[ForwardTransaction] Enable is " + Bracketed(enable) +
                      ": forwarding is off, every transaction is only logged and then lost");
    }
    const std::string zero = ReadIniString("ForwardTransaction", "AllowZeroTransaction", "0");
    report_.Value("AllowZeroTransaction",
                  Bracketed(zero) + (LeadingInt(zero) == 0 ? " a quantity of 0 is dropped"
                                                           : " a quantity of 0 is forwarded"));
    const std::string validation = ReadIniString("ForwardTransaction", "Validation", "0");
    validation_gate_ = LeadingInt(validation) != 0;
    report_.Value(
        "Validation",
        Bracketed(validation) + (validation_gate_ ? " each job number is checked with the DMS first"
                                                  : " job numbers are not checked before caching"));
    const TransactionFields& t = sample_.transaction;
    report_.Value("fluid " + t[kFluidKey], "name " + Bracketed(t[kFluidName]) + ", part number " +
                                               Bracketed(t[kFluidPartNo]) +
                                               " ([FluidName] and [FluidPartNo], else the host's)");
  }

  // ---- the log

  void Log() {
    report_.Heading("Log (KMR/Log)");
    const std::string name = ReadDriverSetting("KMR/Log/FileName");
    if (name.empty()) {
      report_.Value("FileName", "(none)");
      report_.Warning("KMR/Log/FileName is empty: the driver writes no log");
    } else {
      report_.Value("FileName", name);
      if (!IsAbsolute(name)) {
        report_.Warning("the log " + Bracketed(name) +
                        " is no full path on this system: the log lies in the host program's "
                        "current folder, which the driver does not choose; give a full path");
      } else {
        CheckWritable("log", name, /*needed=*/false);
      }
    }
    const std::string max_lines_text = ReadDriverSetting("KMR/Log/MaxLines");
    const int32_t max_lines = LeadingInt(max_lines_text);
    report_.Value("MaxLines", Bracketed(max_lines_text) + " " + std::to_string(max_lines) +
                                  " lines kept at each cut");
    if (!name.empty() && max_lines == 0) {
      report_.Warning("KMR/Log/MaxLines " + Bracketed(max_lines_text) +
                      " reads as 0: the log is emptied at every cut and keeps nothing");
    } else if (max_lines < 0) {
      report_.Warning("KMR/Log/MaxLines is negative: the log is never cut and grows without end");
    }
    const std::string flags = ReadDriverSetting("KMR/Log/Flags");
    std::string on = "* .";
    bool include = true;
    std::string unknown;
    for (char c : flags) {
      if (c == ' ') continue;
      if (c == '+' || c == '-') {
        include = c == '+';
        continue;
      }
      if (c >= 'a' && c <= 'z') {
        if (std::string(kDriverFlags).find(c) == std::string::npos) unknown.push_back(c);
        if (include && on.find(c) == std::string::npos) on += std::string(" ") + c;
      }
    }
    report_.Value("Flags", Bracketed(flags) + " writes lines flagged " + on);
    if (!unknown.empty()) {
      report_.Warning("KMR/Log/Flags holds " + Bracketed(unknown) +
                      ", which the driver does not use (its letters: " + kDriverFlags + ")");
    }
  }

  // ---- the job number split

  void JobNumbers() {
    report_.Heading("Job numbers (KMR/System/WoSplit)");
    const std::string wo_split = ReadDriverSetting("KMR/System/WoSplit");
    if (wo_split == "0") {
      report_.Value("WoSplit", "[0] the whole job number is the work order, the line code NA");
      return;
    }
    const int32_t width = LeadingInt(wo_split);
    if (width < 1) {
      report_.Value("WoSplit", Bracketed(wo_split));
      report_.Problem("KMR/System/WoSplit " + Bracketed(wo_split) +
                      " reads as width 0: every job number is rejected; give the work order's "
                      "width, or 0 for no split");
      return;
    }
    report_.Value("WoSplit", Bracketed(wo_split) + " a work order of " + std::to_string(width) +
                                 " characters, '.', the line code");
  }

  // ---- one exchange

  // Problems of the job validation stop the driver only where the host or
  // the Validation gate asks for it.
  void Issue(bool forward, const std::string& text) {
    if (forward || validation_gate_) {
      report_.Problem(text);
    } else {
      report_.Warning(text + " (matters when the host asks IsJobnoValid)");
    }
  }

  // "%@" and the item; false (reported) when the Setup section lacks it.
  bool Fetch(bool forward, const ExtFormat& format, const std::string& item, std::string* value) {
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

  // The template formatted; every ordinal that nothing registers is
  // reported (and shown as itself), not only the first.
  std::string Render(bool forward, const ExtFormat& format, const std::string& text) {
    ExtFormat probe = format;
    for (int round = 0; round < 100; ++round) {
      try {
        return probe.Format(text);
      } catch (const FailureText& failure) {
        const std::string& why = failure.text();
        size_t at = why.find(kMissingOrdinal);
        if (at == std::string::npos || why.size() < at + sizeof kMissingOrdinal + 1) {
          Issue(forward, std::string(forward ? "forward" : "validation") +
                             " query template: " + Bracketed(why) + ": nothing is sent");
          return std::string();
        }
        const std::string ordinal = why.substr(at + sizeof kMissingOrdinal - 1, 2);
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

  void Exchange(ExchangeKind kind) {
    const bool forward = kind == ExchangeKind::kForwardTransaction;
    const std::string prefix = forward ? "FWT" : "IJV";
    const char own = forward ? 'F' : 'J';
    report_.Heading(forward ? "Forward transaction (FWT): each cached transaction"
                            : "Job validation (IJV): IsJobnoValid and the Validation gate");
    const TransactionFields& t = sample_.transaction;
    const std::string job_no = forward ? t[kJobNo] : sample_.job_no;
    if (forward) {
      report_.Value("sample transaction",
                    TransactionCsv(t) + (sample_.transaction_given ? "" : " (built in)"));
    } else {
      report_.Value("sample job number", job_no + (sample_.job_given ? "" : " (built in)"));
    }
    JobParts job;
    bool split = true;
    try {
      job = WorkOrderAndLineCode(job_no, ReadDriverSetting("KMR/System/WoSplit"));
      report_.Value("work order, line code",
                    Bracketed(job.work_order) + " " + Bracketed(job.line_code));
    } catch (const FailureText& failure) {
      split = false;
      const std::string text =
          "the sample job number " + Bracketed(job_no) + " is rejected: " + failure.text();
      // A job number the operator typed says nothing about the settings.
      if (sample_.job_given || (forward && sample_.transaction_given)) {
        report_.Warning(text);
      } else {
        report_.Note(text);
      }
      job.work_order = "%@07";
      job.line_code = "%@17";
    }
    ExtFormat format;
    if (forward) {
      try {
        RegisterTransactionOrdinals(t, job.work_order, job.line_code, &format);
      } catch (const FailureText& failure) {
        report_.Warning("the sample transaction's date or time is no YYMMDD and HHMMSS: " +
                        failure.text());
      }
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
    std::string sent = QueryAsSent(query);
    if (typed && type == "TCP" && !forward) sent.push_back('\r');
    if (typed) Transport(forward, format, type, own, prefix, sent);
    report_.Value("query as sent", std::to_string(sent.size()) + " bytes" +
                                       (split ? ""
                                              : " (the job number's parts left as %@07 "
                                                "and %@17)"));
    report_.Block(sent);
    ReplyRules(kind, job);
  }

  void Transport(bool forward, const ExtFormat& format, const std::string& type, char own,
                 const std::string& prefix, const std::string& sent) {
    auto item = [&](char second) { return std::string(1, own) + second; };
    std::string value;
    if (type == "TCP") {
      std::string host, port;
      const bool have_host = Fetch(forward, format, "SR", &host);
      const bool have_port = Fetch(forward, format, "PO", &port);
      if (have_host && have_port) {
        report_.Value("transport", "TCP to " + Bracketed(host) + " port " + Bracketed(port));
      }
      if (have_host && host.empty()) Issue(forward, "the Setup item <SR> (the DMS host) is empty");
      const int32_t number = LeadingInt(port);
      if (have_port && (number < 1 || number > 65535)) {
        Issue(forward, "the Setup item <PO> " + Bracketed(port) +
                           " is no port from 1 to 65535: the exchange fails with "
                           "\"TcpTransport: c[Invalid port]\"");
      }
      if (Fetch(forward, format, item('L'), &value)) {
        report_.Value("dynamic length (" + item('L') + ")",
                      Bracketed(value) + " (for TCP only the log shows the query length)");
      }
      if (Fetch(forward, format, item('S'), &value)) Peel(item('S'), value);
      return;
    }
    if (type != "HTTP" && type != "HTTPS") {
      Issue(forward, "the Setup item <TP> " + Bracketed(type) +
                         " is not HTTP, HTTPS or TCP (in capitals): the exchange fails and "
                         "nothing is sent");
      return;
    }
    uses_https_ = uses_https_ || type == "HTTPS";
    TransportContext context;
    context.exchange_prefix = prefix;
    context.transport_type = type;
    std::string url, header;
    const bool have_url = Fetch(forward, format, item('U'), &url);
    const bool have_user = Fetch(forward, format, item('N'), &context.user_name);
    const bool have_password = Fetch(forward, format, item('P'), &context.password);
    const bool have_method = Fetch(forward, format, item('M'), &context.method);
    const bool have_header = Fetch(forward, format, item('H'), &header);
    if (have_url) {
      report_.Value("transport", type + " to " + MaskedUrl(url));
      bool scheme_differs = false;
      const std::string problem = UrlProblem(url, type, &scheme_differs);
      if (!problem.empty()) {
        Issue(forward, "the Setup item <" + item('U') + "> " + Bracketed(MaskedUrl(url)) +
                           " is no URL the driver can use: " + problem);
      } else if (scheme_differs) {
        report_.Warning("the Setup item <" + item('U') + "> begins with another scheme than <TP> " +
                        Bracketed(type) + " says: the driver speaks " + type +
                        " whatever the URL says (on the URL's port)");
      }
    }
    if (have_user) report_.Value("user name (" + item('N') + ")", Bracketed(context.user_name));
    if (have_password) {
      report_.Value("password (" + item('P') + ")", Bracketed(MaskedPassword(context.password)));
    }
    if (have_method) {
      const bool post = context.method.compare(0, 4, "POST") == 0;
      report_.Value("method (" + item('M') + ")",
                    Bracketed(context.method) + (post ? " sends POST" : " sends GET"));
      if (!post && context.method != "GET") {
        report_.Warning("the Setup item <" + item('M') + "> " + Bracketed(context.method) +
                        " sends GET: only a value that begins with POST (in capitals) sends POST");
      }
    }
    if (have_header) {
      if (header == "0") {
        report_.Value("extra headers (" + item('H') + ")", "[0] none");
      } else if (Fetch(forward, format, item('L'), &context.dynamic_length)) {
        report_.Value("dynamic length (" + item('L') + ")",
                      Bracketed(context.dynamic_length) +
                          (context.dynamic_length == "1" ? " DynLength becomes the query's length"
                                                         : " DynLength stays as it is"));
        const std::string block = BuildHttpHeaders(header, sent, context);
        report_.Value("extra headers (" + item('H') + ")", "as sent, secrets masked:");
        for (const std::string& line : HeaderLines(MaskHeaderSecrets(block))) {
          report_.Block(line);
        }
      }
    }
    if (Fetch(forward, format, item('S'), &value)) Peel(item('S'), value);
  }

  void Peel(const std::string& item, const std::string& value) {
    report_.Value("reply peel (" + item + ")",
                  Bracketed(value) + (PeelSwitchOn(value) ? " the reply is first cut to the Level "
                                                            "element"
                                                          : " off: the element is found anywhere"));
  }

  void ReplyRules(ExchangeKind kind, const JobParts& job) {
    const bool forward = kind == ExchangeKind::kForwardTransaction;
    const std::string root = forward ? "KMR/ForwardTransactionResult/" : "KMR/IsJobValidResult/";
    const ResultSettings settings = ReadResultSettings(kind);
    report_.Value("reply code from", Bracketed(settings.code_spec) + " (" + root + "Result)");
    if (settings.code_spec.empty()) {
      Issue(forward, root +
                         "Result is empty: every reply gives an empty code, which matches no "
                         "list");
    } else if (CountOf(settings.code_spec, '/') != 1) {
      Issue(forward, root + "Result " + Bracketed(settings.code_spec) +
                         " must hold exactly one \"/\" (Level/Parameter)");
    }
    report_.Value("reply text from", Bracketed(settings.text_spec) + " (" + root + "Description)");
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
          report_.Warning("the code " + Bracketed(code) +
                          " is a success code and a retry-later code: it counts as success");
        }
      }
    } else {
      report_.Note("a reply is valid only if it holds <RONumber>" + job.work_order +
                   "</RONumber> and <LineCode>" + job.line_code + "</LineCode>");
    }
  }

  void CodeListLine(bool forward, const std::string& label, const std::string& path,
                    const std::string& list, const ListItems& items) {
    std::string shown;
    size_t used = 0;
    for (const std::string& code : items) {
      if (code.empty()) continue;
      if (!shown.empty()) shown += " ";
      shown += Bracketed(code);
      used += code.size() + 1;
      if (code[0] == ',') {
        report_.Warning(path + " " + Bracketed(list) + ": two commas in a row give the code " +
                        Bracketed(code) + ", which no reply matches");
      } else if (code.find_first_of(" \t") != std::string::npos) {
        report_.Warning(path + ": the code " + Bracketed(code) +
                        " holds a blank; a reply code matches only if it holds the same blank");
      }
    }
    report_.Value(label, shown.empty() ? "(none)" : shown);
    if (used < list.size() && !items[kListItemCount - 1].empty()) {
      report_.Warning(path + " " + Bracketed(list) + ": only the first five codes are used");
    }
  }

  // ---- trust

  void Trust() {
    report_.Heading("Trust (HTTPS)");
    const std::string ca_file = ReadIniString("HTTPS", "CAFile", "");
#ifdef _WIN32
    if (uses_https_) {
      report_.Value("authorities",
                    "the machine's certificate store (Trusted Root Certification "
                    "Authorities of the local computer)");
    } else {
      report_.Value("authorities", "no exchange uses HTTPS");
    }
    if (!ca_file.empty()) {
      report_.Warning(
          "[HTTPS] CAFile is not used on Windows: add the authority to the local "
          "computer's Trusted Root Certification Authorities instead");
    }
#else
    if (ca_file.empty()) {
      report_.Value("authorities",
                    uses_https_ ? "the system's (/etc/ssl/certs)" : "no exchange uses HTTPS");
      return;
    }
    report_.Value("CAFile", ca_file + (uses_https_ ? "" : " (no exchange uses HTTPS)"));
    auto issue = [&](const std::string& text) {
      if (uses_https_) {
        report_.Problem(text + ": every HTTPS exchange fails");
      } else {
        report_.Warning(text);
      }
    };
    std::error_code error;
    if (std::filesystem::is_symlink(ca_file, error)) {
      issue("[HTTPS] CAFile " + ca_file + " is a link, and the driver reads only a regular file");
      return;
    }
    std::string pem, reason;
    if (GetEnv()->ReadTextFile(ca_file, &pem, kMaxTrustFileBytes, &reason) != ReadResult::kOk) {
      issue("[HTTPS] CAFile " + ca_file + " cannot be read (" +
            (reason.empty() ? std::string("no such file") : reason) + ")");
      return;
    }
    std::vector<CertificateSummary> certificates = ReadPemCertificates(pem);
    if (certificates.empty()) {
      issue("[HTTPS] CAFile " + ca_file + " holds no PEM certificate");
      return;
    }
    const std::string now = UtcNowKey();
    const bool any_readable =
        std::any_of(certificates.begin(), certificates.end(),
                    [](const CertificateSummary& certificate) { return certificate.readable; });
    if (!any_readable) {
      issue("[HTTPS] CAFile " + ca_file + " holds a certificate that cannot be read, and no other");
      return;
    }
    for (const CertificateSummary& certificate : certificates) {
      if (!certificate.readable) {
        report_.Warning("[HTTPS] CAFile " + ca_file + " holds a certificate that cannot be read");
        continue;
      }
      report_.Value("authority", certificate.subject + ", valid until " + certificate.not_after);
      if (certificate.not_after_key < now) {
        report_.Warning("the authority " + Bracketed(certificate.subject) + " expired on " +
                        certificate.not_after);
      }
    }
    report_.Note("the system's authorities are trusted as well");
#endif
  }

  void TimeLimit() {
    report_.Heading("Transport time limit ([Transport] TimeoutSeconds in the INI file)");
    const std::string text = ReadIniString("Transport", "TimeoutSeconds", "");
    const int64_t seconds = TransportTimeLimit().count();
    report_.Value("TimeoutSeconds", Bracketed(text) + " " + std::to_string(seconds) +
                                        " seconds per wait" +
                                        (text.empty() ? " (the default)" : ""));
    if (!text.empty() && LeadingInt(text) <= 0) {
      report_.Warning("[Transport] TimeoutSeconds " + Bracketed(text) +
                      " is no positive number: the default applies");
    } else if (LeadingInt(text) > kMaxTimeoutSeconds) {
      report_.Warning("[Transport] TimeoutSeconds " + Bracketed(text) + " is held at a day");
    }
  }

  // ---- the cache

  // Reports whether this user may write `path` (an existing file is opened
  // for appending, nothing written; for a missing one a file is made and
  // removed beside it).
  void CheckWritable(const std::string& what, const std::string& path, bool needed) {
    std::string error;
    std::error_code ignored;
    const bool exists = std::filesystem::exists(path, ignored);
    bool ok = exists ? GetEnv()->AppendTextFile(path, std::string(), false, &error)
                     : MayMakeFilesBeside(path, &error);
    if (ok) return;
    const std::string text = "this user cannot " +
                             std::string(exists ? "write the " : "make the ") + what + " " + path +
                             " (" + error + ")";
    if (needed) {
      report_.Problem(text);
    } else {
      report_.Warning(text);
    }
  }

  void Cache() {
    report_.Heading("Cache");
    const std::string path = CacheFilePath();
    std::string contents, reason;
    switch (GetEnv()->ReadTextFile(path, &contents, kNoSizeLimit, &reason)) {
      case ReadResult::kOk: {
        int due = 0, retry = 0, parked = 0;
        std::vector<std::string_view> lines = SplitLines(contents);
        for (std::string_view line : lines) {
          CacheRecord record;
          ParseCacheLine(line, &record);
          int32_t status = LeadingInt(record.status());
          (status == 0 ? due : status == 2 ? retry : parked) += 1;
        }
        report_.Value("file", path + " (" + std::to_string(lines.size()) + " lines: " +
                                  std::to_string(due) + " due, " + std::to_string(retry) +
                                  " retry later, " + std::to_string(parked) + " parked)");
        CheckWritable("cache file", path, true);
        break;
      }
      case ReadResult::kMissing:
        report_.Value("file", path + " (not there yet: the first transaction makes it)");
        CheckWritable("cache file", path, true);
        break;
      case ReadResult::kError:
        report_.Value("file", path);
        report_.Problem("the cache file cannot be read (" + reason + ")");
        break;
    }
    std::string error;
    std::error_code ignored;
    if (std::filesystem::exists(path, ignored) && !MayMakeFilesBeside(path, &error)) {
      report_.Warning("no new file may be made in the cache's folder (" + error +
                      "): removals rewrite the cache in place, which a crash can tear");
    }
#ifdef _WIN32
    report_.Value("cache mutex", std::string("the named mutex \"") + kCacheMutexName + "\"");
#else
    report_.Value("cache lock", CacheLockFilePath(path));
#endif
    {
      CacheLock lock(path);
      if (lock.held()) {
        report_.Value("", "taken and given back: this user may use it");
      } else {
        report_.Problem("the cache lock cannot be taken: " + lock.error());
      }
    }
#ifdef _WIN32
    const std::string delivery = DeliveryLockName(path);
    report_.Value("delivery lock", "the named mutex \"" + delivery + "\"");
#else
    const std::string delivery = DeliveryLockFilePath(path);
    report_.Value("delivery lock", delivery);
#endif
    std::unique_ptr<CrossProcessMutex> mutex =
        GetEnv()->NewNamedMutex(DeliveryLockName(path), DeliveryLockFilePath(path));
    if (mutex->TryLock()) {
      mutex->Unlock();
      report_.Value("", "free: no worker is delivering from this cache right now");
    } else {
      report_.Value("", "held: a worker is delivering from this cache right now");
    }
    const std::string retry_text = ReadIniString("CacheThread", "RetryTime", "10");
    const int32_t retry = ReadRetrySeconds();
    report_.Value("RetryTime", Bracketed(retry_text) + " " + std::to_string(retry) +
                                   " seconds between passes ([CacheThread] in the INI file)");
    if (LeadingInt(retry_text) != retry) {
      report_.Warning("[CacheThread] RetryTime " + Bracketed(retry_text) + " is held at " +
                      std::to_string(retry) + " seconds");
    } else if (retry == 0) {
      report_.Warning("[CacheThread] RetryTime " + Bracketed(retry_text) +
                      " reads as 0: no pause between passes while transactions are due");
    }
  }

  Report report_;
  const ExchangeSample& sample_;
  std::string document_;
  bool validation_gate_ = false;
  bool uses_https_ = false;
};

}  // namespace

int RunCheckCommand(const std::string& module_path, const std::vector<std::string>& args,
                    std::ostream& out, std::ostream& err) {
  ExchangeSample sample;
  std::vector<std::string> rest;
  if (!ParseSampleOptions(args, &sample, &rest, err)) return kExitUsage;
  if (!rest.empty()) {
    err << "vornlink check: unknown argument " << rest[0] << "; see vornlink --help\n";
    return kExitUsage;
  }
  ModuleSite site(module_path);
  CompleteSample(&sample);
  out << "vornlink check: the driver's view of " << site.ModulePath() << "\n";
  return Checker(out, sample).Run(site.ModulePath());
}

}  // namespace vornlink
