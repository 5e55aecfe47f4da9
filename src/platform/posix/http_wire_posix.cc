#include "platform/posix/http_wire_posix.h"

#include "platform/http_client.h"

namespace vornlink {
namespace {

constexpr size_t kMaxTappedHead = 64 * 1024;

int TellHead(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  HttpWireTap* tap = CurrentHttpWireTap();
  if (tap == nullptr) return 0;
  auto* heads = static_cast<WireHeads*>(user);
  if (type == CURLINFO_HEADER_OUT) {
    tap->OnRequestHead(std::string_view(data, size));
  } else if (type == CURLINFO_HEADER_IN) {
    // One line a call; the blank line ends a response's head (an interim
    // "100 Continue" or a redirect's has one too).
    // A peer's head beyond what a person reads is cut, not gathered.
    if (heads->response_head.size() < kMaxTappedHead) heads->response_head.append(data, size);
    if (size <= 2 && (size == 0 || data[0] == '\r' || data[0] == '\n')) {
      tap->OnResponseHead(heads->response_head);
      heads->response_head.clear();
    }
  }
  return 0;
}

}  // namespace

void TapHeadsOfTransfer(CURL* easy, WireHeads* heads) {
  if (CurrentHttpWireTap() == nullptr) return;
  curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, TellHead);
  curl_easy_setopt(easy, CURLOPT_DEBUGDATA, heads);
  curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
}

}  // namespace vornlink
