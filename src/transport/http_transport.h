// One query to the DMS as the body of an HTTP or HTTPS request, and the
// body of its response.
#ifndef VORNLINK_TRANSPORT_HTTP_TRANSPORT_H_
#define VORNLINK_TRANSPORT_HTTP_TRANSPORT_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "transport/transport_context.h"

namespace vornlink {

// The most response body bytes taken (16 MB); a longer body is a failure.
inline constexpr size_t kMaxHttpReplyBytes = 16u << 20;
// The user agent of every request.
inline constexpr char kHttpUserAgent[] = "KMR - Connection";

// Sends `*message` as the body of a request to `url` and replaces it with
// the response body, cut at its first NUL byte. `headers` is "0" (no extra
// headers) or a block from BuildHttpHeaders (lines separated by CR LF or
// LF, each added as its own header). From the context: the transport type
// ("HTTP", or "HTTPS": TLS whatever the URL's scheme), the method (POST when
// its first four characters are "POST", else GET, also with the body), the
// credentials (offered when the server asks), work order and line code (for
// the log), the stop signal. HTTPS also trusts the authorities of the PEM
// file that the INI file names (section "HTTPS", key "CAFile"; POSIX only).
//
// Log: 'h' "Additional header" (credentials masked), "Send to DMS", the
// SUCCESS line; 'd' one n0/r0/nL/rL/sL group per read (each read's own
// bytes; "sL" shows the body size so far), "nE" and "Reply from server".
// Failure raises FailureText:
//   "HttpTransport: t[Transport type %s] --> unknown"
//   "HttpTransport: t[URL Error]"
//   "HttpTransport: c[%d] t[%s]"  status outside 200 to 299, text by table
//   "HttpTransport: t[CInternetException] em[%s]"  the library's error
//   "HttpTransport: t[Reply too large] em[More than 16777216 bytes]"
//   "HttpTransport: t[CAFile] em[%s]"  the trust file cannot be used
//   the time-limit, stop and cut texts of transport/transport_limits.h
//   (once the request may have gone out, only the stop's cut ends it).
// Thread-safe: each call has its own session, connection and request.
void HttpTransport(const std::string& url, std::string* message, const std::string& headers,
                   const TransportContext& context);

// The header block HttpTransport sent, read back from the value of its log
// entry "Additional header" (the text between the brackets, without the
// line break after the '['): the blanks that the entry puts in front of
// each line taken away. Secrets stay masked.
std::string HeaderBlockOfLogValue(std::string_view logged);

// The PEM file of authorities that HTTPS trusts besides the system's: the
// INI file's section "HTTPS", key "CAFile"; empty: none.
std::string TrustFileSetting();

// The text for an HTTP status outside 200 to 299 ("Unknown return code"
// for those without one of their own).
const char* HttpStatusText(int status);

}  // namespace vornlink

#endif  // VORNLINK_TRANSPORT_HTTP_TRANSPORT_H_
