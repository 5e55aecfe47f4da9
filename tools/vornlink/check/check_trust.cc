#include "vornlink/check/check_trust.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "base/numbers.h"
#include "platform/env.h"
#include "platform/http_client.h"
#include "settings/module_files.h"
#include "settings/read_setting.h"
#include "transport/http_transport.h"
#include "transport/transport_limits.h"
#include "vornlink/check/pem_certificates.h"
#include "vornlink/check/site_files.h"

namespace vornlink {
namespace {

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

// The site's own authorities, [HTTPS] CAFile `ca_file`: whether the
// driver can read it, and each certificate's subject and end of validity.
// A file it cannot use is a problem when `uses_https`, else a warning.
void CheckTrustFile(CheckReport* report, const std::string& ca_file, bool uses_https) {
  auto issue = [&](const std::string& text) {
    if (uses_https) {
      report->Problem(text + ": every HTTPS exchange fails");
    } else {
      report->Warning(text);
    }
  };
  if (!IsAbsolute(ca_file)) {
    report->Warning("[HTTPS] CAFile " + Bracketed(ca_file) +
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
      report->Warning("[HTTPS] CAFile " + ca_file + " holds a certificate that cannot be read");
      continue;
    }
    report->Value("authority", certificate.subject + ", valid until " + certificate.not_after);
    if (certificate.not_after_key < now) {
      report->Warning("the authority " + Bracketed(certificate.subject) + " expired on " +
                      certificate.not_after);
    }
  }
  report->Note("the system's authorities are trusted as well");
}
#endif

}  // namespace

void CheckTrust(CheckReport* report, bool uses_https) {
  report->Heading("Trust (HTTPS)");
  const std::string ca_file = TrustFileSetting();
#ifdef _WIN32
  if (uses_https) {
    report->Value("authorities",
                  "the machine's certificate store (Trusted Root Certification "
                  "Authorities of the local computer)");
  } else {
    report->Value("authorities", "no exchange uses HTTPS");
  }
  if (!ca_file.empty()) {
    report->Warning(
        "[HTTPS] CAFile is not used on Windows: add the authority to the local "
        "computer's Trusted Root Certification Authorities instead");
  }
#else
  if (ca_file.empty()) {
    report->Value("authorities",
                  uses_https ? "the system's (/etc/ssl/certs)" : "no exchange uses HTTPS");
    return;
  }
  report->Value("CAFile", ca_file + (uses_https ? "" : " (no exchange uses HTTPS)"));
  CheckTrustFile(report, ca_file, uses_https);
#endif
}

void CheckTimeLimit(CheckReport* report) {
  report->Heading("Transport time limit ([Transport] TimeoutSeconds in the INI file)");
  const TimeLimitSetting setting = ReadTimeLimitSetting();
  report->Value("TimeoutSeconds", Bracketed(setting.text) + " " +
                                      std::to_string(setting.limit.count()) +
                                      " seconds for a whole exchange" +
                                      (setting.text.empty() ? " (the default)" : ""));
  if (setting.not_positive) {
    report->Warning("[Transport] TimeoutSeconds " + Bracketed(setting.text) +
                    " is no positive number: the default applies");
  } else if (setting.capped) {
    report->Warning("[Transport] TimeoutSeconds " + Bracketed(setting.text) + " is held at a day");
  }
}

}  // namespace vornlink
