#include "platform/win32/http_wire_win32.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace vornlink {
namespace {

// A head beyond what a person reads is not fetched.
constexpr DWORD kMaxTappedHead = 64 * 1024;

// The raw head `which` asks for (status or request line, header lines, each
// ended by CR LF); "" when the library has none.
std::string RawHead(HINTERNET request, DWORD which) {
  DWORD size = 0;
  HttpQueryInfoA(request, which, nullptr, &size, nullptr);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > kMaxTappedHead) {
    return std::string();
  }
  std::string head(size, '\0');
  if (!HttpQueryInfoA(request, which, &head[0], &size, nullptr)) return std::string();
  head.resize(std::min<size_t>(size, head.size()));
  return head;
}

std::string TimeText(const FILETIME& time) {
  SYSTEMTIME parts{};
  if (!FileTimeToSystemTime(&time, &parts)) return std::string();
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", parts.wYear, parts.wMonth,
                parts.wDay, parts.wHour, parts.wMinute, parts.wSecond);
  return text;
}

// One of the certificate's texts, its line breaks as "; ", and freed.
std::string TakeText(LPSTR text) {
  if (text == nullptr) return std::string();
  std::string taken;
  for (const char* at = text; *at != '\0'; ++at) {
    if (*at == '\r') continue;
    if (*at == '\n') {
      taken += "; ";
    } else {
      taken.push_back(*at);
    }
  }
  LocalFree(text);
  while (taken.size() >= 2 && taken.compare(taken.size() - 2, 2, "; ") == 0)
    taken.resize(taken.size() - 2);
  return taken;
}

}  // namespace

void TellHeads(HINTERNET request, HttpWireTap* tap) {
  if (tap == nullptr) return;
  const std::string sent =
      RawHead(request, HTTP_QUERY_RAW_HEADERS_CRLF | HTTP_QUERY_FLAG_REQUEST_HEADERS);
  if (!sent.empty()) tap->OnRequestHead(sent);
  const std::string received = RawHead(request, HTTP_QUERY_RAW_HEADERS_CRLF);
  if (!received.empty()) tap->OnResponseHead(received);
}

void TellCertificate(HINTERNET request, HttpWireTap* tap) {
  if (tap == nullptr) return;
  // The A call fills the texts with char strings, whatever LPTSTR is.
  INTERNET_CERTIFICATE_INFO info{};
  DWORD size = sizeof info;
  if (!InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT, &info, &size)) {
    return;
  }
  PeerCertificate told;
  told.subject = TakeText(reinterpret_cast<LPSTR>(info.lpszSubjectInfo));
  told.issuer = TakeText(reinterpret_cast<LPSTR>(info.lpszIssuerInfo));
  told.valid_from = TimeText(info.ftStart);
  told.valid_until = TimeText(info.ftExpiry);
  TakeText(reinterpret_cast<LPSTR>(info.lpszProtocolName));
  TakeText(reinterpret_cast<LPSTR>(info.lpszSignatureAlgName));
  TakeText(reinterpret_cast<LPSTR>(info.lpszEncryptionAlgName));
  tap->OnPeerCertificate(told);
}

HttpHeadersAsSent HeadersAsSent(const HttpRequest& request) {
  HttpHeadersAsSent sent;
  sent.given = request.headers;
  sent.added = {"Host", "User-Agent: " + request.user_agent};
  const bool length_given =
      std::any_of(sent.given.begin(), sent.given.end(), [](const std::string& line) {
        return line.size() >= 15 && _strnicmp(line.c_str(), "Content-Length:", 15) == 0;
      });
  if (!length_given) sent.added.push_back("Content-Length: " + std::to_string(request.body.size()));
  // What the request's flags ask for: each Windows version's library words
  // it its own way (Wine's leaves it out).
  sent.added.push_back(std::string(request.secure ? "Cache-Control and Pragma: no-cache"
                                                  : "Cache-Control: no-cache") +
                       " and Connection: Keep-Alive, if this Windows version adds them");
  if (!request.user.empty()) {
    sent.added.push_back("Authorization, when the DMS asks for the user name and password");
  }
  return sent;
}

}  // namespace vornlink
