#include "vornlink/try/wire_view.h"

#include <cstdlib>

#include "base/text_lines.h"
#include "transport/http_headers.h"
#include "vornlink/base/text_output.h"

namespace vornlink {

void ShowLine(std::ostream& out, const std::string& label, const std::string& value) {
  out << "  " << Padded(label, 16) << " " << value << "\n";
}

int WireRecorder::LastStatus() const {
  if (response_heads.empty()) return 0;
  const std::string& head = response_heads.back();
  const size_t blank = head.find(' ');
  return blank == std::string::npos ? 0 : std::atoi(head.c_str() + blank + 1);
}

void ShowHead(std::ostream& out, const std::string& label, const std::string& head) {
  const std::string masked = MaskHeaderSecrets(head);
  bool first = true;
  for (std::string_view line : SplitLines(masked)) {
    if (line.empty()) continue;
    if (first) {
      ShowLine(out, label, std::string(line));
      first = false;
    } else {
      out << "    | " << line << "\n";
    }
  }
}

void ShowCertificate(std::ostream& out, const PeerCertificate& certificate) {
  ShowLine(out, "certificate", "subject " + certificate.subject);
  ShowLine(out, "", "issuer " + certificate.issuer);
  ShowLine(out, "", "valid " + certificate.valid_from + " to " + certificate.valid_until);
  if (!certificate.sha256_fingerprint.empty()) {
    ShowLine(out, "", "SHA-256 " + certificate.sha256_fingerprint);
  }
}

}  // namespace vornlink
