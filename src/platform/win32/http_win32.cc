// HTTP and HTTPS requests through the Windows internet library, with the
// flags the driver has always used. The library's calls block; a watcher
// thread closes the request's handles when the deadline passes or the stop
// signal is set, which makes the blocked call return with an error. The
// library's own time-outs are set to the time left as well, in case a call
// does not notice the close. Some builds of the library (Wine's) go on
// waiting all the same: the request therefore runs on a thread of its own,
// and a caller whose limit has ended leaves it there shortly after the close
// (it ends by the library's own time-out, and keeps the module loaded until
// then).
//
// Whether the request may have gone out: the library connects and sends
// inside one call (HttpSendRequest). From that call on the request counts as
// sent, except while the library's status notes say that it is still looking
// up the name or connecting (the TLS handshake follows the connect); its
// note that it sends the request makes it sent for good. A library that
// sends no notes leaves every request counted as sent from the call on.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/env.h"
#include "platform/http_client.h"
#include "platform/one_line_text.h"
#include "platform/win32/http_wire_win32.h"

namespace vornlink {
namespace {

constexpr DWORD kBodyPiece = 1023;

// The library's message for one of its errors (or the system's, for a
// system error code), at most kMaxHttpErrorText characters.
std::string InternetErrorText(DWORD code) {
  char text[256] = "";
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                     GetModuleHandleA("wininet.dll"), code, 0, text, sizeof text, nullptr);
  if (length == 0) {
    length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  }
  std::string result = WithoutLineBreaks(std::string(text, length), kMaxHttpErrorText);
  // Some library builds (Wine's) have no text for some codes: the code at
  // least tells support what happened.
  if (result.empty()) result = "Internet error " + std::to_string(code);
  return result;
}

// The library's errors that tell a person what to look at. Its own
// time-out (12002; its limits only back the caller's up, see SetTimeouts)
// means a host that does not answer while nothing is sent yet.
const struct InternetErrorKind {
  DWORD code;
  NetFailure kind;
} kInternetErrorKinds[] = {
    {ERROR_INTERNET_NAME_NOT_RESOLVED, NetFailure::kNameLookup},  // 12007
    {ERROR_INTERNET_CANNOT_CONNECT, NetFailure::kRefused},        // 12029
    {ERROR_INTERNET_TIMEOUT, NetFailure::kUnreachable},           // 12002
    {ERROR_INTERNET_INVALID_CA, NetFailure::kCertificate},
    {ERROR_INTERNET_SEC_CERT_ERRORS, NetFailure::kCertificate},
    {ERROR_INTERNET_SEC_CERT_NO_REV, NetFailure::kCertificate},
    {ERROR_INTERNET_SEC_CERT_REV_FAILED, NetFailure::kCertificate},
    {ERROR_INTERNET_SEC_INVALID_CERT, NetFailure::kCertificate},
    {ERROR_INTERNET_SEC_CERT_REVOKED, NetFailure::kCertificate},
    {ERROR_INTERNET_SEC_CERT_CN_INVALID, NetFailure::kCertificate},
    {ERROR_INTERNET_SEC_CERT_DATE_INVALID, NetFailure::kCertificate},
    {ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED, NetFailure::kTls},
    {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, NetFailure::kTls},
};

NetFailure KindOfInternetError(DWORD code) {
  for (const InternetErrorKind& kind : kInternetErrorKinds) {
    if (kind.code == code) return kind.kind;
  }
  return NetFailure::kOther;
}

// How far the request has come, as the caller and the watcher see it.
class RequestProgress {
 public:
  // Right before HttpSendRequest.
  void Calling() { Raise(kCalled); }
  // The library's status notes, on the thread that calls it.
  void Note(DWORD status) {
    switch (status) {
      case INTERNET_STATUS_RESOLVING_NAME:
      case INTERNET_STATUS_NAME_RESOLVED:
      case INTERNET_STATUS_CONNECTING_TO_SERVER:
      case INTERNET_STATUS_CONNECTED_TO_SERVER: {
        int called = kCalled;
        state_.compare_exchange_strong(called, kConnecting);
        break;
      }
      case INTERNET_STATUS_SENDING_REQUEST:
        Raise(kSending);
        break;
      default:
        break;
    }
  }
  bool sent() const {
    const int state = state_.load();
    return state == kCalled || state == kSending;
  }

 private:
  enum : int { kNotYet, kConnecting, kCalled, kSending };
  void Raise(int to) {
    int now = state_.load();
    while (now < to && !state_.compare_exchange_weak(now, to)) {
    }
  }
  std::atomic<int> state_{kNotYet};
};

void CALLBACK NoteStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
  if (context != 0) reinterpret_cast<RequestProgress*>(context)->Note(status);
}

// The limit as it stands for a request that has come this far.
WaitLimit LimitNow(const WaitLimit& limit, const RequestProgress& progress) {
  return progress.sent() ? limit.OnceSent() : limit;
}

// The session, connection and request of one call. The watcher may close
// them from its thread; every close goes through the mutex, and a handle is
// closed once.
class Handles {
 public:
  ~Handles() { CloseAll(); }

  void Set(HINTERNET* slot, HINTERNET handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) {
      InternetCloseHandle(handle);
      handle = nullptr;
    }
    *slot = handle;
  }

  void CloseAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    for (HINTERNET* slot : {&request, &connection, &session}) {
      if (*slot != nullptr) InternetCloseHandle(*slot);
      *slot = nullptr;
    }
  }

  // A handle to call with: null once the watcher has closed them, so that
  // the call fails at once instead of using a value the library may have
  // given out again.
  HINTERNET Get(HINTERNET* slot) {
    std::lock_guard<std::mutex> lock(mutex_);
    return *slot;
  }

  HINTERNET session = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;

 private:
  std::mutex mutex_;
  bool closed_ = false;
};

// Closes the handles when the limit ends the call; `why` tells which end.
class Watcher {
 public:
  Watcher(const WaitLimit& limit, const RequestProgress* progress, Handles* handles)
      : limit_(limit), progress_(progress), handles_(handles) {
    thread_ = std::thread([this] { Run(); });
  }
  ~Watcher() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finished_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  // kOk while the call may go on.
  HttpOutcome why() {
    std::lock_guard<std::mutex> lock(mutex_);
    return why_;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (finished_) return;
      HttpOutcome end = HttpOutcome::kDone;
      if (LimitNow(limit_, *progress_).Stopped()) {
        end = HttpOutcome::kStopped;
      } else if (limit_.Expired()) {
        end = HttpOutcome::kTimedOut;
      }
      if (end != HttpOutcome::kDone) {
        why_ = end;
        lock.unlock();
        handles_->CloseAll();
        return;
      }
      auto slice_end =
          std::min(limit_.deadline, std::chrono::steady_clock::now() + kStopPollInterval);
      changed_.wait_until(lock, slice_end);
    }
  }

  WaitLimit limit_;
  const RequestProgress* progress_;
  Handles* handles_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool finished_ = false;
  HttpOutcome why_ = HttpOutcome::kDone;
  std::thread thread_;
};

HttpResult Outcome(HttpOutcome outcome, std::string text = std::string()) {
  HttpResult result;
  result.outcome = outcome;
  result.error_text = std::move(text);
  return result;
}

DWORD MillisecondsLeft(const WaitLimit& limit) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(limit.deadline -
                                                           std::chrono::steady_clock::now());
  if (left.count() <= 0) return 1;
  return static_cast<DWORD>(std::min<long long>(left.count(), 0x7fffffff));
}

// The library's own time-outs: the time left and a second more (some builds
// take them from the request handle, some from the session). They only back
// the watcher up: one that ended first could be reported as another error
// (Wine reports an ended receive as a terminated connection).
void SetTimeouts(HINTERNET handle, const WaitLimit& limit) {
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    DWORD timeout = std::min<DWORD>(MillisecondsLeft(limit), 0x7fffffff - 1000) + 1000;
    InternetSetOptionA(handle, option, &timeout, sizeof timeout);
  }
}

// Where a request goes: the host and port of its URL, and the object asked
// for (path and query; a fragment never reaches the server).
struct RequestTarget {
  char host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = "";
  INTERNET_PORT port = 0;
  std::string object;
};

// False for a URL the library cannot split, or one without a host.
bool CrackRequestUrl(const std::string& url, RequestTarget* target) {
  std::string path(url.size() + 1, '\0');
  std::string extra(url.size() + 1, '\0');
  URL_COMPONENTSA parts;
  ZeroMemory(&parts, sizeof parts);
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = target->host;
  parts.dwHostNameLength = sizeof target->host;
  parts.lpszUrlPath = &path[0];
  parts.dwUrlPathLength = static_cast<DWORD>(path.size());
  parts.lpszExtraInfo = &extra[0];
  parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
  if (url.empty() || !InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
      target->host[0] == '\0') {
    return false;
  }
  path.resize(parts.dwUrlPathLength);
  extra.resize(parts.dwExtraInfoLength);
  extra.erase(std::min(extra.find('#'), extra.size()));
  target->port = parts.nPort;
  target->object = path + extra;
  if (target->object.empty()) target->object = "/";
  return true;
}

// The flags of the request handle: never from a cache, no redirect across
// schemes; a secure request also follows no redirect and takes a
// certificate whose dates or name do not fit.
DWORD RequestFlags(bool secure) {
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT |
                INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
  if (secure) {
    flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT |
             INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID |
             INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_CACHE_ASYNC;
  }
  return flags;
}

// The result of a library call that failed with `code`: the watcher's end,
// if it closed the handles, else the library's error.
HttpResult CallFailed(DWORD code, Watcher* watcher, const WaitLimit& limit) {
  HttpOutcome why = watcher->why();
  if (why != HttpOutcome::kDone) return Outcome(why);
  // The library's own time-out, set to the time left, came just before
  // the watcher's.
  if (code == ERROR_INTERNET_TIMEOUT &&
      std::chrono::steady_clock::now() + std::chrono::milliseconds(500) >= limit.deadline) {
    return Outcome(HttpOutcome::kTimedOut);
  }
  HttpResult result = Outcome(HttpOutcome::kLibraryError, InternetErrorText(code));
  result.failure = KindOfInternetError(code);
  return result;
}

// Opens the session, the connection and the request handle for `target`;
// false (GetLastError tells why) when one cannot be opened.
bool OpenHandles(const HttpRequest& request, const RequestTarget& target, const WaitLimit& limit,
                 RequestProgress* progress, Handles* handles) {
  // Status notes come only for handles made with a context.
  const DWORD_PTR context = reinterpret_cast<DWORD_PTR>(progress);
  handles->Set(&handles->session, InternetOpenA(request.user_agent.c_str(),
                                                INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (handles->Get(&handles->session) == nullptr) return false;
  SetTimeouts(handles->Get(&handles->session), limit);
  InternetSetStatusCallbackA(handles->Get(&handles->session), NoteStatus);

  const char* user = request.user.empty() ? nullptr : request.user.c_str();
  const char* password = request.user.empty() ? nullptr : request.password.c_str();
  handles->Set(&handles->connection,
               InternetConnectA(handles->Get(&handles->session), target.host, target.port, user,
                                password, INTERNET_SERVICE_HTTP, 0, context));
  if (handles->Get(&handles->connection) == nullptr) return false;

  handles->Set(&handles->request,
               HttpOpenRequestA(handles->Get(&handles->connection), request.post ? "POST" : "GET",
                                target.object.c_str(), "HTTP/1.1", nullptr, nullptr,
                                RequestFlags(request.secure), context));
  if (handles->Get(&handles->request) == nullptr) return false;
  SetTimeouts(handles->Get(&handles->request), limit);
  return true;
}

// Hands the response's status, then its body, to `handler`.
HttpResult ReadResponse(Handles* handles, const WaitLimit& limit, Watcher* watcher,
                        HttpResponseHandler* handler) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(handles->Get(&handles->request),
                      HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    return CallFailed(GetLastError(), watcher, limit);
  }
  try {
    if (!handler->OnStatus(static_cast<int>(status))) return Outcome(HttpOutcome::kDone);
    char buffer[kBodyPiece + 1];
    for (;;) {
      DWORD read = 0;
      if (!InternetReadFile(handles->Get(&handles->request), buffer, kBodyPiece, &read)) {
        return CallFailed(GetLastError(), watcher, limit);
      }
      if (read == 0) break;
      if (!handler->OnBody(buffer, read)) return Outcome(HttpOutcome::kAborted);
    }
  } catch (...) {
    return Outcome(HttpOutcome::kAborted);
  }
  HttpOutcome why = watcher->why();
  if (why != HttpOutcome::kDone) return Outcome(why);
  return Outcome(HttpOutcome::kDone);
}

// The request on the thread that makes it; its wire told to `tap`, if any.
HttpResult RunRequest(const HttpRequest& request, const WaitLimit& limit, RequestProgress* progress,
                      HttpResponseHandler* handler, HttpWireTap* tap) {
  RequestTarget target;
  if (!CrackRequestUrl(request.url, &target)) return Outcome(HttpOutcome::kBadUrl);
  Handles handles;
  Watcher watcher(limit, progress, &handles);
  if (!OpenHandles(request, target, limit, progress, &handles)) {
    return CallFailed(GetLastError(), &watcher, limit);
  }
  for (const std::string& line : request.headers) {
    // A line the library refuses is left out, as it always was.
    HttpAddRequestHeadersA(handles.Get(&handles.request), line.c_str(),
                           static_cast<DWORD>(line.size()),
                           HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  }
  progress->Calling();
  const bool sent = HttpSendRequestA(handles.Get(&handles.request), nullptr, 0,
                                     const_cast<char*>(request.body.data()),
                                     static_cast<DWORD>(request.body.size()));
  const DWORD error = GetLastError();
  if (request.secure) TellCertificate(handles.Get(&handles.request), tap);
  if (!sent) return CallFailed(error, &watcher, limit);
  TellHeads(handles.Get(&handles.request), tap);
  return ReadResponse(&handles, limit, &watcher, handler);
}

// How long a caller whose limit has ended waits for the library to notice
// that its handles were closed.
constexpr auto kCloseGrace = std::chrono::milliseconds(300);

// One request shared between the caller and the thread that makes it. The
// response reaches the caller's handler only while the caller waits.
struct SharedCall : HttpResponseHandler, HttpWireTap {
  RequestProgress progress;
  std::mutex mutex;
  std::condition_variable done_changed;
  bool done = false;
  bool caller_gone = false;
  HttpResponseHandler* caller = nullptr;  // guarded by mutex
  HttpWireTap* caller_tap = nullptr;      // guarded by mutex; may be null
  HttpResult result;

  void OnRequestHead(std::string_view head) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (!caller_gone && caller_tap != nullptr) caller_tap->OnRequestHead(head);
  }
  void OnResponseHead(std::string_view head) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (!caller_gone && caller_tap != nullptr) caller_tap->OnResponseHead(head);
  }
  void OnPeerCertificate(const PeerCertificate& certificate) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (!caller_gone && caller_tap != nullptr) caller_tap->OnPeerCertificate(certificate);
  }

  bool OnStatus(int status) override {
    std::lock_guard<std::mutex> lock(mutex);
    return !caller_gone && caller->OnStatus(status);
  }
  bool OnBody(const char* data, size_t size) override {
    std::lock_guard<std::mutex> lock(mutex);
    return !caller_gone && caller->OnBody(data, size);
  }
};

}  // namespace

HttpResult SendHttpRequest(const HttpRequest& request, const WaitLimit& limit,
                           HttpResponseHandler* handler) {
  auto call = std::make_shared<SharedCall>();
  call->caller = handler;
  call->caller_tap = CurrentHttpWireTap();  // the tap is the caller's thread's
  std::thread thread;
  try {
    thread = std::thread([call, request, limit] {
      HttpWireTap* tap = call->caller_tap != nullptr ? call.get() : nullptr;
      HttpResult result = RunRequest(request, limit, &call->progress, call.get(), tap);
      std::lock_guard<std::mutex> lock(call->mutex);
      call->result = std::move(result);
      call->done = true;
      call->done_changed.notify_all();
    });
  } catch (const std::system_error&) {
    return Outcome(HttpOutcome::kLibraryError, "no thread for the request");
  }
  std::unique_lock<std::mutex> lock(call->mutex);
  std::chrono::steady_clock::time_point give_up = std::chrono::steady_clock::time_point::max();
  while (!call->done) {
    auto now = std::chrono::steady_clock::now();
    if (give_up == std::chrono::steady_clock::time_point::max() &&
        (LimitNow(limit, call->progress).Stopped() || limit.Expired())) {
      give_up = now + kCloseGrace;
    }
    if (now >= give_up) break;
    call->done_changed.wait_until(lock, std::min(give_up, now + kStopPollInterval));
  }
  if (call->done) {
    HttpResult result = std::move(call->result);
    result.request_sent = call->progress.sent();
    lock.unlock();
    thread.join();
    return result;
  }
  call->caller_gone = true;
  lock.unlock();
  thread.detach();
  GetEnv()->KeepModuleLoaded();
  HttpResult result = Outcome(LimitNow(limit, call->progress).Stopped() ? HttpOutcome::kStopped
                                                                        : HttpOutcome::kTimedOut);
  result.request_sent = call->progress.sent();
  return result;
}

}  // namespace vornlink
