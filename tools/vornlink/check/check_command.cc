#include "vornlink/check/check_command.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <ostream>
#include <random>

#include "base/numbers.h"
#include "base/text_lines.h"
#include "cache/cache_file.h"
#include "delivery/cache_worker.h"
#include "driver/service.h"
#include "log/log.h"
#include "platform/env.h"
#include "platform/http_client.h"
#include "settings/module_files.h"
#include "settings/read_setting.h"
#include "transport/http_headers.h"
#include "transport/http_transport.h"
#include "transport/transport_limits.h"
#include "ui/properties_rows.h"
#include "vornlink/base/exchange_sample.h"
#include "vornlink/base/exit_codes.h"
#include "vornlink/base/line_states.h"
#include "vornlink/base/module_site.h"
#include "vornlink/check/check_exchange.h"
#include "vornlink/check/check_report.h"
#include "vornlink/check/pem_certificates.h"
#include "vornlink/check/sample_placeholders.h"
#include "vornlink/check/settings_lint.h"

namespace vornlink {
namespace {

bool IsAbsolute(const std::string& path) {
#ifdef _WIN32
  return (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
         path.compare(0, 2, "\\\\") == 0;
#else
  return !path.empty() && path[0] == '/';
#endif
}

#ifndef _WIN32
// The current UTC time as "YYYYMMDDHHMMSS".
std::string UtcNowKey() {
  std::time_t now = static_cast<std::time_t>(GetEnv()->UnixTime());
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &utc);
  return text;
}
#endif

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
  Checker(std::ostream& out, const std::string& module, bool json, const ExchangeSample& sample)
      : report_(out, module, json), sample_(sample) {}

  int Run(const std::string& module_path) {
    Files(module_path);
    Gates();
    Log();
    uses_https_ = CheckExchanges(sample_, validation_gate_, &report_);
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
    const ForwardGates gates = ReadForwardGates();
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
        CheckWritable("log", name, /*needed=*/false);
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

  // ---- trust

  void Trust() {
    report_.Heading("Trust (HTTPS)");
    const std::string ca_file = TrustFileSetting();
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
    if (!IsAbsolute(ca_file)) {
      report_.Warning("[HTTPS] CAFile " + Bracketed(ca_file) +
                      " is no full path: the driver looks for it in the host program's current "
                      "folder, this check in its own");
    }
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
                                        " seconds for a whole exchange" +
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
    CacheFile(path);
    CacheLocks(path);
    CacheThreadSettings();
  }

  // The cache file: its lines by state, and whether this user may write it
  // and make files beside it.
  void CacheFile(const std::string& path) {
    std::string contents, reason;
    switch (GetEnv()->ReadTextFile(path, &contents, kNoSizeLimit, &reason)) {
      case ReadResult::kOk: {
        StateCounts counts;
        std::vector<std::string_view> lines = SplitLines(contents);
        for (std::string_view line : lines) {
          CacheRecord record;
          ParseCacheLine(line, &record);
          counts.Add(StateOf(record));
        }
        report_.Value("file", path + " (" + std::to_string(lines.size()) +
                                  " lines: " + counts.Summary() + ")");
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
  }

  // The cache's lock and the delivery lock: taken and given back.
  void CacheLocks(const std::string& path) {
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
    std::string lock_reason;
    switch (ProbeDeliveryLock(path, &lock_reason)) {
      case LockProbe::kFree:
        report_.Value("", "free: no service delivers from this cache now");
        break;
      case LockProbe::kHeld:
        report_.Value("", "held: a service (a host's) delivers from this cache now");
        break;
      case LockProbe::kNotJudged:
        report_.Warning("the delivery lock " + lock_reason);
        break;
      case LockProbe::kUnavailable:
        report_.Problem("the delivery lock cannot be taken (" + lock_reason +
                        "): no worker can deliver from this cache");
        break;
    }
  }

  // How the worker paces its passes and when it parks for an unreachable
  // DMS ([CacheThread] in the INI file).
  void CacheThreadSettings() {
    const RetrySetting retry = ReadRetrySetting();
    report_.Value("RetryTime", Bracketed(retry.text) + " " + std::to_string(retry.seconds) +
                                   " seconds between passes ([CacheThread] in the INI file)");
    if (retry.held) {
      report_.Warning("[CacheThread] RetryTime " + Bracketed(retry.text) + " is held at " +
                      std::to_string(retry.seconds) + " seconds");
    } else if (retry.seconds == 0) {
      report_.Warning("[CacheThread] RetryTime " + Bracketed(retry.text) +
                      " reads as 0: no pause between passes while transactions are due");
    }
    const ParkUnreachableSetting park = ReadParkUnreachableSetting();
    report_.Value("unreachable DMS",
                  Bracketed(park.text) + " " +
                      (park.hours == 0 ? std::string("each line that meets it is parked at once")
                                       : "the lines wait for it, and are parked once one has "
                                         "waited " +
                                             std::to_string(park.hours) + " h") +
                      " ([CacheThread] ParkUnreachableAfterHours)");
    if (park.held) {
      report_.Warning("[CacheThread] ParkUnreachableAfterHours " + Bracketed(park.text) +
                      " is held at " + std::to_string(park.hours) + " hours");
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
    "check [--transaction F1,...,F12] [--job JOBNO] [--json]",
    "check the INI file and the settings document\n"
    "beside the module without sending anything",
    "  --transaction F1,...,F12\n"
    "                the sample transaction whose query is rendered (default: a\n"
    "                made-up one on the job number)\n"
    "  --job JOBNO   the sample job number (default: the transaction's, else\n"
    "                one of work order 118739 in the driver's format)\n"
    "  --json        only the problems and warnings, each with its file and\n"
    "                line, as JSON\n",
    "0 nothing found that makes the driver fail (warnings allowed), 1\n"
    "something was, 2 usage error",
    "Check the settings beside the module without sending anything.\n"};

int RunCheckCommand(const std::string& module_path, const std::vector<std::string>& args,
                    std::ostream& out, std::ostream& err) {
  ExchangeSample sample;
  std::vector<std::string> rest;
  if (!ParseSampleOptions(args, &sample, &rest, err)) return kExitUsage;
  const bool json = !rest.empty() && rest[0] == "--json";
  if (rest.size() > (json ? 1 : 0)) {
    err << "vornlink check: unknown argument " << rest.back() << "; see vornlink --help\n";
    return kExitUsage;
  }
  ModuleSite site(module_path);
  CompleteSample(&sample);
  if (!json) out << "vornlink check: the driver's view of " << site.ModulePath() << "\n";
  return Checker(out, site.ModulePath(), json, sample).Run(site.ModulePath());
}

}  // namespace vornlink
