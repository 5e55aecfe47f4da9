#include "vornlink/check/check_command.h"

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "base/numbers.h"
#include "base/text_lines.h"
#include "cache/cache_file.h"
#include "driver/service.h"
#include "log/log.h"
#include "platform/env.h"
#include "settings/module_files.h"
#include "settings/read_setting.h"
#include "transport/http_headers.h"
#include "transport/http_transport.h"
#include "ui/properties_rows.h"
#include "vornlink/base/exchange_sample.h"
#include "vornlink/base/exit_codes.h"
#include "vornlink/base/site_env.h"
#include "vornlink/check/check_cache.h"
#include "vornlink/check/check_exchange.h"
#include "vornlink/check/check_report.h"
#include "vornlink/check/check_trust.h"
#include "vornlink/check/sample_placeholders.h"
#include "vornlink/check/settings_lint.h"
#include "vornlink/check/site_files.h"

namespace vornlink {
namespace {

class Checker {
 public:
  Checker(std::ostream& out, const std::string& module, bool json, bool strict,
          const ExchangeSample& sample)
      : report_(out, module, json), sample_(sample) {
    if (strict) report_.FailOnWarnings();
  }

  int Run(const std::string& module_path) {
    Files(module_path);
    Gates();
    Log();
    uses_https_ = CheckExchanges(sample_, validation_gate_, &report_);
    CheckTrust(&report_, uses_https_);
    CheckTimeLimit(&report_);
    CheckCache(&report_);
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
          report_.Warning(finding.text, {ini, finding.line});
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
      if (finding.problem) {
        report_.Problem(finding.text, {xml, finding.line});
      } else {
        report_.Warning(finding.text, {xml, finding.line});
      }
    }
    for (const LintFinding& finding : FindSamplePlaceholders(document_)) {
      report_.Warning(finding.text, {xml, finding.line});
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
    const ForwardGateSettings gates = ReadForwardGateSettings();
    const std::string enable = Bracketed(gates.enable.text);
    report_.Value("Enable", enable + (gates.enable.on ? " transactions are forwarded"
                                                      : " every transaction is held back"));
    if (!gates.enable.on) {
      report_.Warning("[ForwardTransaction] Enable is " + enable +
                      ": forwarding is off, every transaction is only logged and then lost");
    }
    report_.Value(
        "AllowZeroTransaction",
        Bracketed(gates.allow_zero.text) + (gates.allow_zero.on ? " a quantity of 0 is forwarded"
                                                                : " a quantity of 0 is dropped"));
    const std::string& quantity = sample_.transaction[kQuantity];
    if (DropsAsZero(gates, quantity)) {
      report_.Value("sample quantity", Bracketed(quantity) + " dropped as 0, never cached");
      report_.Warning("the sample transaction's quantity " + Bracketed(quantity) +
                      " reads as 0: the driver drops it (AllowZeroTransaction " +
                      Bracketed(gates.allow_zero.text) + "), so the DMS never sees it");
    } else {
      report_.Value("sample quantity", Bracketed(quantity) + " forwarded");
    }
    validation_gate_ = gates.validation.on;
    report_.Value("Validation",
                  Bracketed(gates.validation.text) +
                      (validation_gate_ ? " each job number is checked with the DMS first"
                                        : " job numbers are not checked before caching"));
    const TransactionFields& t = sample_.transaction;
    report_.Value("fluid " + t[kFluidKey], "name " + Bracketed(t[kFluidName]) + ", part number " +
                                               Bracketed(t[kFluidPartNo]) +
                                               " ([FluidName] and [FluidPartNo], else the host's)");
  }

  // ---- the log

  void Log() {
    report_.Heading("Log (KMR/Log)");
    const LogSettings log = ReadLogSettings();
    const std::string& name = log.file_name;
    if (name.empty()) {
      report_.Value("FileName", "(none)");
      report_.Warning("KMR/Log/FileName is empty: the driver writes no log");
    } else {
      report_.Value("FileName", name);
      if (!IsAbsolute(name)) {
        report_.Warning("the log " + Bracketed(name) +
                        " is no full path on this system: the log lies in the host program's "
                        "current folder, which the driver does not choose; give a full path");
      } else if (std::string reason; !GetEnv()->IsTrustedPath(name, &reason)) {
        report_.Problem("the log " + name + " is not written: " + reason +
                        "; the driver skips every entry");
      } else {
        CheckWritable(&report_, "log", name, /*needed=*/false);
      }
    }
    const std::string& max_lines_text = log.max_lines_text;
    const int32_t max_lines = log.max_lines;
    report_.Value("MaxLines", Bracketed(max_lines_text) + " " + std::to_string(max_lines) +
                                  " lines kept at each cut");
    if (!name.empty() && max_lines == 0) {
      report_.Warning("KMR/Log/MaxLines " + Bracketed(max_lines_text) +
                      " reads as 0: the log is emptied at every cut and keeps nothing");
    } else if (max_lines < 0) {
      report_.Warning("KMR/Log/MaxLines is negative: the log is never cut and grows without end");
    }
    const std::string& flags = log.flags;
    const LogFlagSets sets = ParseLogFlags(flags);
    std::string on = "* .";
    std::string unknown;
    for (char c = 'a'; c <= 'z'; ++c) {
      const size_t index = static_cast<unsigned char>(c);
      if ((sets.include.test(index) || sets.exclude.test(index)) &&
          std::string_view(kDriverLogFlags).find(c) == std::string_view::npos) {
        unknown.push_back(c);
      }
      if (sets.Passes(c)) on += std::string(" ") + c;
    }
    report_.Value("Flags", Bracketed(flags) + " writes lines flagged " + on);
    if (!unknown.empty()) {
      report_.Warning("KMR/Log/Flags holds " + Bracketed(unknown) +
                      ", which the driver does not use (its letters: " + kDriverLogFlags + ")");
    }
  }

  CheckReport report_;
  const ExchangeSample& sample_;
  std::string document_;
  bool validation_gate_ = false;
  bool uses_https_ = false;
};

}  // namespace

const CommandHelp kCheckHelp = {
    "check",
    CommandGroup::kOperator,
    "check [--transaction F1,...,F12] [--job JOBNO] [--json] [--strict]",
    "check the INI file and the settings document\n"
    "beside the module without sending anything",
    "  --transaction F1,...,F12\n"
    "                the sample transaction whose query is rendered (default: a\n"
    "                made-up one on the job number)\n"
    "  --job JOBNO   the sample job number (default: the transaction's, else\n"
    "                one of work order 118739 in the driver's format)\n"
    "  --json        only the problems and warnings, each with its file and\n"
    "                line, as JSON\n"
    "  --strict      warnings fail the check too (a site ready to go live has\n"
    "                none: no sample host name or password left, ...)\n",
    "0 nothing found that makes the driver fail (warnings allowed unless\n"
    "--strict), 1 something was, 2 usage error",
    "Check the settings beside the module without sending anything.\n"};

int RunCheckCommand(const std::string& module_path, const std::vector<std::string>& args,
                    std::ostream& out, std::ostream& err) {
  ExchangeSample sample;
  std::vector<std::string> rest;
  if (!ParseSampleOptions(args, &sample, &rest, err)) return kExitUsage;
  bool json = false;
  bool strict = false;
  for (const std::string& word : rest) {
    bool* flag = word == "--json" ? &json : word == "--strict" ? &strict : nullptr;
    if (flag == nullptr || *flag) {
      err << "vornlink check: " << (flag == nullptr ? "unknown argument " : "repeated argument ")
          << word << "; see vornlink help check\n";
      return kExitUsage;
    }
    *flag = true;
  }
  SiteEnv site(module_path);
  CompleteSample(&sample);
  if (!json) out << "vornlink check: the driver's view of " << site.ModulePath() << "\n";
  return Checker(out, site.ModulePath(), json, strict, sample).Run(site.ModulePath());
}

}  // namespace vornlink
