// One HTTP or HTTPS request and its response, for the HTTP transport.
//
// The request is made the way the driver has always made it on Windows
// (platform/win32, the Windows internet library): user agent given by the
// caller, the system's proxy settings, HTTP/1.1, never answered from a
// cache, plain HTTP following redirects (also to HTTPS and back) and HTTPS
// following none, on HTTPS the certificate chain checked while an expired or
// not yet valid certificate and a host name that does not match are
// accepted, the credentials offered only when the server asks for them. The
// POSIX build (platform/posix, libcurl) sends the same request: the same
// headers, no Content-Type, Accept or Expect of its own.
//
// Threading: any number of requests may run at once on different threads;
// nothing is shared between them. No call throws (exceptions thrown by the
// handler are caught and end the request as kAborted).
#ifndef VORNLINK_PLATFORM_HTTP_CLIENT_H_
#define VORNLINK_PLATFORM_HTTP_CLIENT_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/net.h"

namespace vornlink {

struct HttpRequest {
  // TLS or not: decided by the caller, not by the URL's scheme.
  bool secure = false;
  // Scheme, host, optional port, path. The port is the URL's explicit one,
  // else the default of the URL's own scheme.
  std::string url;
  bool post = false;  // POST, else GET (a GET carries the body too)
  std::string user_agent;
  // Extra headers, one "Name: value" per item without line end; each
  // replaces a request header of the same name or is added.
  std::vector<std::string> headers;
  std::string body;  // sent as it is, with either verb
  // Offered when the server asks for authentication; none when empty.
  std::string user;
  std::string password;
  // A PEM file of authorities trusted in addition to the system's (POSIX
  // only; Windows trusts what its certificate store holds). Empty: none.
  // Only a regular file of at most kMaxTrustFileBytes, not a link, is read.
  std::string ca_file;
};

inline constexpr size_t kMaxTrustFileBytes = size_t{8} << 20;

// Receives the response: first its status, then its body piece by piece.
class HttpResponseHandler {
 public:
  virtual ~HttpResponseHandler() = default;
  // The status of the final response (after the redirects followed).
  // Return false to end the request without reading the body.
  virtual bool OnStatus(int status) = 0;
  // The next bytes of the body, in order; at most 1023 at a time. Return
  // false to stop reading (the request ends as kAborted).
  virtual bool OnBody(const char* data, size_t size) = 0;
};

enum class HttpOutcome {
  kDone,            // a status came (and the body, unless OnStatus declined it)
  kBadUrl,          // the URL parser rejected the URL; nothing was sent
  kLibraryError,    // name lookup, connection, TLS, send or read failed
  kTimedOut,        // the limit's deadline came first
  kStopped,         // the limit's stop signal was set
  kAborted,         // OnBody returned false
  kTrustFileError,  // `ca_file` could not be read or holds no certificate
};

// The longest library message an HttpResult carries.
inline constexpr size_t kMaxHttpErrorText = 255;

struct HttpResult {
  HttpOutcome outcome = HttpOutcome::kDone;
  // kLibraryError: the library's own message for the error, at most
  // kMaxHttpErrorText characters, every CR and LF removed. kTrustFileError: what is wrong with
  // the file.
  std::string error_text;
  // kLibraryError: the kind of the error, by the library's own code for it
  // (the name lookup, a refused or failed connect, the library's own time
  // limit, the certificate, TLS; kOther for the rest).
  NetFailure failure = NetFailure::kOther;
  // Whether the request may have gone out, in part or whole: true from the
  // moment the library is about to send it (after the name lookup, the
  // connect and the TLS handshake), and whenever that cannot be told.
  bool request_sent = false;
};

// Sends `request` and hands the response to `handler`. Every wait (name
// lookup, connect, TLS, send, receive) ends at the limit's deadline or
// promptly (well within a second) after its stop signal ends it; with
// StopAt::kSetUntilSent the first step of the stop does so only until the
// request may have gone out (see HttpResult::request_sent).
HttpResult SendHttpRequest(const HttpRequest& request, const WaitLimit& limit,
                           HttpResponseHandler* handler);

// What the server's own certificate says, as a person checks it.
struct PeerCertificate {
  std::string subject;
  std::string issuer;
  std::string valid_from;  // as the system prints a time
  std::string valid_until;
  // The SHA-256 digest of the certificate, "AB:CD:..."; "" where the
  // system does not tell it (Windows).
  std::string sha256_fingerprint;
};

// Sees what goes over the wire for a person who reads it (the operator's
// tool): the request's head as sent (request line and header lines), each
// response's head as it came (status line and header lines), the server's
// certificate as received, also when the handshake then fails. Called on
// the thread of SendHttpRequest while it runs; must not throw.
class HttpWireTap {
 public:
  virtual ~HttpWireTap() = default;
  virtual void OnRequestHead(std::string_view head) = 0;
  virtual void OnResponseHead(std::string_view head) = 0;
  virtual void OnPeerCertificate(const PeerCertificate& certificate) = 0;
};

// While it lives, the requests of the thread that made it report to `tap`
// (not owned); the tap set before is restored at its end. One tap at a time
// in the process (the operator's tool sets it around one exchange); the
// requests of other threads meanwhile report nothing.
class ScopedHttpWireTap {
 public:
  explicit ScopedHttpWireTap(HttpWireTap* tap);
  ~ScopedHttpWireTap();
  ScopedHttpWireTap(const ScopedHttpWireTap&) = delete;
  ScopedHttpWireTap& operator=(const ScopedHttpWireTap&) = delete;

 private:
  HttpWireTap* before_ = nullptr;
  std::thread::id before_owner_;
};

// The calling thread's tap; null when none is set.
HttpWireTap* CurrentHttpWireTap();

// The header lines `request` goes out with, for a person who reads it: the
// caller's lines that the library sends as they are, in order, and apart
// from them what the library writes itself ("Host", "User-Agent: ...",
// "Content-Length", ...; a value it works out is not given). The order on
// the wire may differ.
struct HttpHeadersAsSent {
  std::vector<std::string> given;
  std::vector<std::string> added;
};
HttpHeadersAsSent HeadersAsSent(const HttpRequest& request);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_HTTP_CLIENT_H_
