// HTTP framing for the emulated DMS's HTTP and HTTPS modes: one request per
// connection, its body taken as the DMS query; the reply text goes back as
// the body of a "200 OK" response, and the connection is closed.
#ifndef VORNLINK_EMULATED_DMS_DMS_HTTP_H_
#define VORNLINK_EMULATED_DMS_DMS_HTTP_H_

#include <string>
#include <string_view>

#include "platform/net.h"

namespace vornlink {

struct DmsHttpRequest {
  std::string request_line;  // "POST /dms/parts HTTP/1.1"
  std::string headers;       // the header lines as they came, CR LF each
  std::string body;
};

// A head larger than this, or a body larger than kMaxDmsRequestBytes, is
// refused.
inline constexpr size_t kMaxDmsHttpHeadBytes = 64 * 1024;

// Reads one request: its head up to the empty line, then as many body bytes
// as Content-Length says (none without it). False with `error` set when the
// request is malformed, too large, or does not come within `limit`.
bool ReadDmsHttpRequest(NetConnection& connection, const WaitLimit& limit, DmsHttpRequest* request,
                        std::string* error);

// Whether `bytes`, received so far, are all that ReadDmsHttpRequest needs:
// the head and its body, or enough to tell that it refuses the request.
bool DmsHttpRequestComplete(std::string_view bytes);

// The response: "HTTP/1.1 200 OK", a text/xml content type, the length and
// "Connection: close", then `body`.
std::string DmsHttpResponse(const std::string& body);

}  // namespace vornlink

#endif  // VORNLINK_EMULATED_DMS_DMS_HTTP_H_
