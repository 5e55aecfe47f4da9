// What `vornlink try` shows of an exchange: its lines ("  label  value"),
// and what went over the wire of an HTTP exchange as the library tells it
// (platform/http_client.h), secrets masked.
#ifndef VORNLINK_TOOLS_VORNLINK_TRY_WIRE_VIEW_H_
#define VORNLINK_TOOLS_VORNLINK_TRY_WIRE_VIEW_H_

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http_client.h"

namespace vornlink {

// One line of try's account: `label` in a column of its own, then `value`.
void ShowLine(std::ostream& out, const std::string& label, const std::string& value);

// What went over the wire of an HTTP exchange, as the library tells it.
class WireRecorder : public HttpWireTap {
 public:
  void OnRequestHead(std::string_view head) override { request_head = std::string(head); }
  void OnResponseHead(std::string_view head) override { response_heads.emplace_back(head); }
  void OnPeerCertificate(const PeerCertificate& told) override {
    if (!certificate) certificate = told;  // the server's own, told first
  }

  // The status code of the last response, 0 when none came.
  int LastStatus() const;

  std::string request_head;
  std::vector<std::string> response_heads;  // interim ones (100, redirects) first
  std::optional<PeerCertificate> certificate;
};

// A head's lines as they went, secrets masked: the first (the request or
// status line) beside `label`, the header lines each after "    | ".
void ShowHead(std::ostream& out, const std::string& label, const std::string& head);

// What the server's certificate says, a line each.
void ShowCertificate(std::ostream& out, const PeerCertificate& certificate);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_TRY_WIRE_VIEW_H_
