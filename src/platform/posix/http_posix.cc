// HTTP and HTTPS requests through libcurl, set up to send what the Windows
// build sends (see platform/http_client.h). The transfer runs in a multi
// handle whose poll waits at most kStopPollInterval, so that the stop signal
// and the deadline are looked at between slices; name lookups run on
// libcurl's resolver thread and are given up on the same way. libcurl calls
// the pre-request callback once the connection (and its TLS) stands, right
// before it sends a request on it: from then on the request counts as sent.
#include <curl/curl.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/http_client.h"
#include "platform/one_line_text.h"
#include "platform/posix/http_tls_posix.h"
#include "platform/posix/http_wire_posix.h"
#include "platform/posix/scoped_fd.h"

namespace vornlink {
namespace {

// Body bytes handed to the handler at a time, as the Windows build reads.
constexpr size_t kBodyPiece = 1023;
constexpr long kMaxRedirects = 20;

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct CurlTextDeleter {
  void operator()(char* text) const { curl_free(text); }
};
using CurlText = std::unique_ptr<char, CurlTextDeleter>;

// libcurl's global set-up, once per process (its documentation asks for it
// before threads use it; curl_global_init is not thread-safe in 7.88).
void InitCurlOnce() {
  static const bool done = [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    return true;
  }();
  (void)done;
}

// Feeds the handler: the status before the first body bytes, then the body
// in pieces of at most kBodyPiece bytes.
struct Receiver {
  CURL* easy = nullptr;
  HttpResponseHandler* handler = nullptr;
  bool status_given = false;
  bool body_declined = false;  // OnStatus said no
  bool aborted = false;        // OnBody said no, or threw

  bool GiveStatus() {
    if (status_given) return !body_declined;
    status_given = true;
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    try {
      body_declined = !handler->OnStatus(static_cast<int>(status));
    } catch (...) {
      aborted = true;
      return false;
    }
    return !body_declined;
  }

  static size_t Write(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Receiver*>(user);
    size_t total = size * count;
    if (!self->GiveStatus()) return 0;
    try {
      for (size_t done = 0; done < total; done += kBodyPiece) {
        if (!self->handler->OnBody(data + done, std::min(kBodyPiece, total - done))) {
          self->aborted = true;
          return 0;
        }
      }
    } catch (...) {
      self->aborted = true;
      return 0;
    }
    return total;
  }
};

// Marks the request as sent: libcurl is about to send it.
int MarkRequestSent(void* sent, char*, char*, int, int) {
  *static_cast<bool*>(sent) = true;
  return CURL_PREREQFUNC_OK;
}

bool SameHeaderName(const std::string& line, const std::string& name) {
  size_t colon = line.find(':');
  if (colon == std::string::npos || colon != name.size()) return false;
  return std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

std::string HeaderName(const std::string& line) { return line.substr(0, line.find(':')); }

// The request headers beyond the ones libcurl makes itself: what the
// Windows request carries that libcurl does not add, the removal of what
// libcurl adds that the Windows request does not carry, then the caller's
// lines, each replacing one of the same name.
std::vector<std::string> RequestHeaders(const HttpRequest& request) {
  std::vector<std::string> lines = {
      "Accept:",        // libcurl's "*/*"; the Windows request asks for no types
      "Content-Type:",  // libcurl's form type for a POST body
      "Expect:",        // libcurl's 100-continue for larger bodies
      // Never from a cache: what the Windows flags "reload" (both) and
      // "pragma no-cache" (HTTPS) put into the request.
      "Cache-Control: no-cache",
  };
  if (request.secure) lines.push_back("Pragma: no-cache");
  for (const std::string& line : request.headers) {
    // libcurl writes the body's true length itself; a caller's value would
    // also go out on a redirected GET that has no body, and the server
    // would wait for it.
    if (SameHeaderName(line, "Content-Length")) continue;
    std::string name = HeaderName(line);
    auto same = std::find_if(lines.begin(), lines.end(),
                             [&](const std::string& held) { return SameHeaderName(held, name); });
    if (same != lines.end()) {
      *same = line;
    } else {
      lines.push_back(line);
    }
  }
  return lines;
}

// The URL to ask libcurl for: the caller's host, port and object, with the
// scheme chosen by `secure` and the port the URL's own (explicit, or its
// scheme's default). False when the URL parser rejects it.
bool EffectiveUrl(const HttpRequest& request, std::string* url) {
  std::unique_ptr<CURLU, UrlDeleter> parts(curl_url());
  if (!parts) return false;
  if (curl_url_set(parts.get(), CURLUPART_URL, request.url.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
      CURLUE_OK) {
    return false;
  }
  char* raw = nullptr;
  if (curl_url_get(parts.get(), CURLUPART_PORT, &raw, CURLU_DEFAULT_PORT) != CURLUE_OK) {
    return false;  // a scheme without a known default and no port
  }
  CurlText port(raw);
  raw = nullptr;
  if (curl_url_get(parts.get(), CURLUPART_HOST, &raw, 0) != CURLUE_OK) return false;
  CurlText host(raw);
  if (host.get()[0] == '\0') return false;
  // Credentials in the URL and a fragment never reach the server.
  curl_url_set(parts.get(), CURLUPART_USER, nullptr, 0);
  curl_url_set(parts.get(), CURLUPART_PASSWORD, nullptr, 0);
  curl_url_set(parts.get(), CURLUPART_FRAGMENT, nullptr, 0);
  if (curl_url_set(parts.get(), CURLUPART_SCHEME, request.secure ? "https" : "http", 0) !=
          CURLUE_OK ||
      curl_url_set(parts.get(), CURLUPART_PORT, port.get(), 0) != CURLUE_OK) {
    return false;
  }
  raw = nullptr;
  if (curl_url_get(parts.get(), CURLUPART_URL, &raw, 0) != CURLUE_OK) return false;
  CurlText whole(raw);
  *url = whole.get();
  return true;
}

// The kind of a failed transfer, by libcurl's code for it and, for a
// failed connect, the system's error.
NetFailure KindOfCurlError(CURL* easy, CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return NetFailure::kNameLookup;
    case CURLE_COULDNT_CONNECT: {
      long os_error = 0;
      curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &os_error);
      const NetFailure kind = KindOfNetError(static_cast<int>(os_error));
      return kind == NetFailure::kOther ? NetFailure::kRefused : kind;
    }
    case CURLE_OPERATION_TIMEDOUT:
      return NetFailure::kTimedOut;
    case CURLE_PEER_FAILED_VERIFICATION:
      return NetFailure::kCertificate;
    case CURLE_SSL_CONNECT_ERROR:
      return NetFailure::kTls;
    default:
      return NetFailure::kOther;
  }
}

HttpResult Outcome(HttpOutcome outcome, std::string text = std::string()) {
  HttpResult result;
  result.outcome = outcome;
  result.error_text = std::move(text);
  return result;
}

// The site's own authorities of a request, added to the system's.
struct Authorities {
  std::vector<X509*> list;
  ~Authorities() {
    for (X509* certificate : list) X509_free(certificate);
  }
};

// Reads the request's CAFile, if it names one; false with `refused` set
// when the file cannot be used.
bool LoadAuthorities(const HttpRequest& request, Authorities* authorities, HttpResult* refused) {
  if (request.ca_file.empty()) return true;
  std::string pem;
  std::string error;
  if (!ReadTrustFile(request.ca_file, &pem, &error)) {
    *refused = Outcome(HttpOutcome::kTrustFileError, error);
    return false;
  }
  if (!ParseAuthorities(pem, &authorities->list)) {
    *refused = Outcome(HttpOutcome::kTrustFileError,
                       "CAFile [" + request.ca_file + "] holds no PEM certificate");
    return false;
  }
  return true;
}

// The request's header lines (RequestHeaders) as libcurl takes them; null
// when memory runs out.
std::unique_ptr<curl_slist, SlistDeleter> HeaderList(const HttpRequest& request) {
  curl_slist* raw_list = nullptr;
  for (const std::string& line : RequestHeaders(request)) {
    curl_slist* grown = curl_slist_append(raw_list, line.c_str());
    if (grown == nullptr) {
      curl_slist_free_all(raw_list);
      return nullptr;
    }
    raw_list = grown;
  }
  return std::unique_ptr<curl_slist, SlistDeleter>(raw_list);
}

// What goes out: the address, the headers, the method and body, the
// redirects followed and the credentials. `headers` and `error_buffer`
// must outlive the transfer.
void SetRequestOptions(CURL* e, const HttpRequest& request, const std::string& url,
                       curl_slist* headers, char* error_buffer) {
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, error_buffer);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_USERAGENT, request.user_agent.c_str());
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);
  // One connection per request, closed with it.
  curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
  if (request.post) {
    curl_easy_setopt(e, CURLOPT_POST, 1L);
  } else if (!request.body.empty()) {
    // A GET with a body: the body goes as with POST, the verb stays GET.
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, "GET");
  } else {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  }
  if (request.post || !request.body.empty()) {
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, request.body.data());
  }
  // Plain HTTP follows redirects, HTTPS none.
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, request.secure ? 0L : 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
  if (!request.user.empty()) {
    curl_easy_setopt(e, CURLOPT_USERNAME, request.user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, request.password.c_str());
    // More than one method: libcurl waits for the server's challenge.
    curl_easy_setopt(e, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
  }
}

// How the peer's certificate is judged; `tls` must outlive the transfer.
void SetTlsOptions(CURL* e, const HttpRequest& request, TlsSetup* tls) {
  // The chain is checked; on HTTPS the host name is not, as on Windows.
  // A plain HTTP request redirected to an https address checks the name,
  // as the Windows request does without the flags of a secure one.
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, request.secure ? 0L : 2L);
  curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, SetUpTls);
  curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, tls);
}

// The result of a transfer that libcurl has ended: its code, or what the
// handler made of the response.
HttpResult FinishedTransfer(CURLM* multi, CURL* e, Receiver* receiver, const char* error_buffer) {
  CURLcode code = CURLE_OK;
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == e) code = message->data.result;
  }
  if (receiver->aborted) return Outcome(HttpOutcome::kAborted);
  if (code == CURLE_WRITE_ERROR && receiver->body_declined) return Outcome(HttpOutcome::kDone);
  if (code != CURLE_OK) {
    std::string text = error_buffer[0] != '\0' ? error_buffer : curl_easy_strerror(code);
    HttpResult result =
        Outcome(HttpOutcome::kLibraryError, WithoutLineBreaks(text, kMaxHttpErrorText));
    result.failure = KindOfCurlError(e, code);
    return result;
  }
  receiver->GiveStatus();  // a response without body bytes
  if (receiver->aborted) return Outcome(HttpOutcome::kAborted);
  return Outcome(HttpOutcome::kDone);
}

// Runs the transfer of `e` in slices until it ends, the limit stops it or
// its deadline passes. `request_sent` turns true inside curl_multi_perform.
HttpResult Transfer(CURLM* multi, CURL* e, const WaitLimit& limit, const bool& request_sent,
                    Receiver* receiver, const char* error_buffer) {
  for (;;) {
    // A request not yet sent may go out within the next call.
    if ((request_sent ? limit.OnceSent() : limit).Stopped()) return Outcome(HttpOutcome::kStopped);
    int running = 0;
    CURLMcode state = curl_multi_perform(multi, &running);
    if (state != CURLM_OK) {
      return Outcome(HttpOutcome::kLibraryError,
                     WithoutLineBreaks(curl_multi_strerror(state), kMaxHttpErrorText));
    }
    if (running == 0) break;
    auto now = std::chrono::steady_clock::now();
    if (now >= limit.deadline) return Outcome(HttpOutcome::kTimedOut);
    auto left = std::chrono::ceil<std::chrono::milliseconds>(limit.deadline - now);
    int slice =
        static_cast<int>(std::min<std::chrono::milliseconds>(left, kStopPollInterval).count());
    curl_multi_poll(multi, nullptr, 0, slice, nullptr);
  }
  return FinishedTransfer(multi, e, receiver, error_buffer);
}

}  // namespace

HttpResult SendHttpRequest(const HttpRequest& request, const WaitLimit& limit,
                           HttpResponseHandler* handler) {
  InitCurlOnce();
  std::string url;
  if (!EffectiveUrl(request, &url)) return Outcome(HttpOutcome::kBadUrl);
  Authorities authorities;
  HttpResult refused;
  if (!LoadAuthorities(request, &authorities, &refused)) return refused;

  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!easy || !multi) return Outcome(HttpOutcome::kLibraryError, "Out of memory");
  std::unique_ptr<curl_slist, SlistDeleter> header_list = HeaderList(request);
  if (!header_list) return Outcome(HttpOutcome::kLibraryError, "Out of memory");
  CURL* e = easy.get();
  char error_buffer[CURL_ERROR_SIZE] = "";
  SetRequestOptions(e, request, url, header_list.get(), error_buffer);
  TlsSetup tls;
  tls.authorities = &authorities.list;
  tls.accept_dates = request.secure;
  SetTlsOptions(e, request, &tls);
  Receiver receiver;
  receiver.easy = e;
  receiver.handler = handler;
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, Receiver::Write);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &receiver);
  // Set on this thread inside curl_multi_perform, read between its calls.
  bool request_sent = false;
  curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, MarkRequestSent);
  curl_easy_setopt(e, CURLOPT_PREREQDATA, &request_sent);
  WireHeads heads;
  TapHeadsOfTransfer(e, &heads);

  if (curl_multi_add_handle(multi.get(), e) != CURLM_OK) {
    return Outcome(HttpOutcome::kLibraryError, "Out of memory");
  }
  struct Detach {
    CURLM* multi;
    CURL* easy;
    ~Detach() { curl_multi_remove_handle(multi, easy); }
  } detach{multi.get(), e};
  HttpResult result = Transfer(multi.get(), e, limit, request_sent, &receiver, error_buffer);
  result.request_sent = request_sent;
  return result;
}

HttpHeadersAsSent HeadersAsSent(const HttpRequest& request) {
  HttpHeadersAsSent sent;
  // libcurl counts the body itself (a given Content-Length line is left out).
  sent.added = {"Host", "User-Agent: " + request.user_agent,
                "Content-Length: " + std::to_string(request.body.size())};
  HttpRequest without_headers;
  without_headers.secure = request.secure;
  const std::vector<std::string> own = RequestHeaders(without_headers);
  for (const std::string& line : RequestHeaders(request)) {
    // "Name:" takes one of libcurl's own lines away: it is not sent.
    if (line.empty() || line.back() == ':') continue;
    (std::find(own.begin(), own.end(), line) != own.end() ? sent.added : sent.given)
        .push_back(line);
  }
  if (!request.user.empty()) {
    sent.added.push_back("Authorization, when the DMS asks for the user name and password");
  }
  return sent;
}

}  // namespace vornlink
