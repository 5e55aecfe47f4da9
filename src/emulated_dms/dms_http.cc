#include "emulated_dms/dms_http.h"

#include <cctype>

#include "emulated_dms/dms_server.h"

namespace vornlink {
namespace {

bool NameIs(const std::string& line, const char* name, std::string* value) {
  size_t colon = line.find(':');
  if (colon == std::string::npos) return false;
  std::string key = line.substr(0, colon);
  std::string wanted = name;
  if (key.size() != wanted.size()) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(key[i])) !=
        std::tolower(static_cast<unsigned char>(wanted[i]))) {
      return false;
    }
  }
  size_t start = line.find_first_not_of(" \t", colon + 1);
  *value = start == std::string::npos ? "" : line.substr(start);
  while (!value->empty() && (value->back() == ' ' || value->back() == '\t')) value->pop_back();
  return true;
}

bool ReceiveMore(NetConnection& connection, const WaitLimit& limit, std::string* bytes,
                 std::string* error) {
  char buffer[8192];
  size_t received = 0;
  NetResult result = connection.Receive(buffer, sizeof buffer, &received, limit);
  if (result.ok()) {
    bytes->append(buffer, received);
    return true;
  }
  switch (result.status) {
    case NetStatus::kClosed:
      *error = "the peer closed the connection before the request was complete";
      break;
    case NetStatus::kTimedOut:
      *error = "no complete request within the time limit";
      break;
    case NetStatus::kStopped:
      *error = "stopped";
      break;
    default:
      *error = "receive failed: c[" + std::to_string(result.code) + "] t[" + result.text + "]";
  }
  return false;
}

// Reads the head that ends at `head_end` (its empty line) into `request`
// and the body's length into `*length`. False with `error` set when it is
// malformed or announces too large a body.
bool ParseHead(std::string_view bytes, size_t head_end, DmsHttpRequest* request, size_t* length,
               std::string* error) {
  std::string head(bytes.substr(0, head_end + 2));
  size_t line_end = head.find("\r\n");
  request->request_line = head.substr(0, line_end);
  request->headers = head.substr(line_end + 2);
  if (request->request_line.find(" HTTP/1.") == std::string::npos) {
    *error = "not an HTTP/1.x request: " + request->request_line.substr(0, 80);
    return false;
  }
  *length = 0;
  size_t at = 0;
  while (at < request->headers.size()) {
    size_t end = request->headers.find("\r\n", at);
    std::string line = request->headers.substr(at, end - at);
    at = end + 2;
    std::string value;
    if (NameIs(line, "Transfer-Encoding", &value)) {
      *error = "chunked request bodies are not served";
      return false;
    }
    if (NameIs(line, "Content-Length", &value)) {
      if (value.empty() || value.size() > 9 ||
          value.find_first_not_of("0123456789") != std::string::npos) {
        *error = "bad Content-Length: " + value;
        return false;
      }
      *length = std::stoul(value);
    }
  }
  if (*length > kMaxDmsRequestBytes) {
    *error = "the request body is larger than " + std::to_string(kMaxDmsRequestBytes) + " bytes";
    return false;
  }
  return true;
}

}  // namespace

bool DmsHttpRequestComplete(std::string_view bytes) {
  size_t head_end = bytes.find("\r\n\r\n");
  if (head_end == std::string_view::npos) return bytes.size() > kMaxDmsHttpHeadBytes;
  DmsHttpRequest request;
  size_t length = 0;
  std::string error;
  return !ParseHead(bytes, head_end, &request, &length, &error) ||
         bytes.size() - (head_end + 4) >= length;
}

bool ReadDmsHttpRequest(NetConnection& connection, const WaitLimit& limit, DmsHttpRequest* request,
                        std::string* error) {
  std::string bytes;
  size_t head_end;
  while ((head_end = bytes.find("\r\n\r\n")) == std::string::npos) {
    if (bytes.size() > kMaxDmsHttpHeadBytes) {
      *error = "the request head is larger than " + std::to_string(kMaxDmsHttpHeadBytes) + " bytes";
      return false;
    }
    if (!ReceiveMore(connection, limit, &bytes, error)) return false;
  }
  size_t length = 0;
  if (!ParseHead(bytes, head_end, request, &length, error)) return false;
  std::string rest = bytes.substr(head_end + 4);
  while (rest.size() < length) {
    if (!ReceiveMore(connection, limit, &rest, error)) return false;
  }
  rest.resize(length);
  request->body = rest;
  return true;
}

std::string DmsHttpResponse(const std::string& body) {
  return "HTTP/1.1 200 OK\r\n"
         "Content-Type: text/xml; charset=utf-8\r\n"
         "Content-Length: " +
         std::to_string(body.size()) +
         "\r\n"
         "Connection: close\r\n"
         "\r\n" +
         body;
}

}  // namespace vornlink
