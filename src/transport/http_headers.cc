#include "transport/http_headers.h"

#include <algorithm>
#include <cctype>

#include "log/log.h"

namespace vornlink {
namespace {

std::string Lowercase(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool CarriesCredential(std::string_view name) {
  static const char* const kMarks[] = {"auth",  "token",  "key",     "secret",
                                       "passw", "cookie", "session", "credential"};
  std::string lower = Lowercase(TrimBlanks(name));
  // An idempotency key names a message and opens nothing: shown, it tells
  // which booking a request was.
  if (lower.find("idempotency") != std::string::npos) return false;
  return std::any_of(std::begin(kMarks), std::end(kMarks),
                     [&](const char* mark) { return lower.find(mark) != std::string::npos; });
}

// One line without its line end, masked when its name carries a credential.
std::string MaskLine(std::string_view line) {
  size_t colon = line.find(':');
  if (colon == std::string_view::npos || !CarriesCredential(line.substr(0, colon))) {
    return std::string(line);
  }
  std::string_view value = line.substr(colon + 1);
  size_t start = value.find_first_not_of(" \t");
  if (start == std::string_view::npos) return std::string(line);  // nothing to hide
  std::string masked(line.substr(0, colon + 1 + start));
  // "Basic abc=" keeps "Basic ": the scheme helps support, the rest is secret.
  std::string_view rest = value.substr(start);
  size_t blank = rest.find(' ');
  bool scheme_word =
      Lowercase(TrimBlanks(line.substr(0, colon))).find("authorization") != std::string::npos &&
      blank != std::string_view::npos;
  if (scheme_word) masked.append(rest.substr(0, blank + 1));
  masked.append(kMaskedSecret);
  return masked;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  encoded.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t group = static_cast<unsigned char>(bytes[i]) << 16 |
                     static_cast<unsigned char>(bytes[i + 1]) << 8 |
                     static_cast<unsigned char>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6)
      encoded.push_back(kAlphabet[(group >> shift) & 63]);
  }
  size_t left = bytes.size() - i;
  if (left > 0) {
    uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (left == 2) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    encoded.push_back(kAlphabet[(group >> 18) & 63]);
    encoded.push_back(kAlphabet[(group >> 12) & 63]);
    encoded.push_back(left == 2 ? kAlphabet[(group >> 6) & 63] : '=');
    encoded.push_back('=');
  }
  return encoded;
}

std::string BuildHttpHeaders(const std::string& header_template, const std::string& body_as_sent,
                             const TransportContext& context) {
  std::string block = header_template;
  if (context.exchange_prefix == "IJV") {
    std::string credentials = context.user_name + ":" + context.password;
    std::string shown = context.user_name + ":" + (context.password.empty() ? "" : kMaskedSecret);
    LogPrint('h', "           String to Encode[%s]", shown.c_str());
    std::string encoded = Base64Encode(credentials);
    LogPrint('h', "                    Encoded[%s]", kMaskedSecret);
    block += "\r\nAuthorization: Basic " + encoded + "\r\n";
  }
  if (FillsDynamicLength(context.dynamic_length)) {
    std::string length = std::to_string(body_as_sent.size());
    LogPrint('h', "            Query length is[%s].", length.c_str());
    static const std::string kPlaceholder = "DynLength";
    for (size_t at = block.find(kPlaceholder); at != std::string::npos;
         at = block.find(kPlaceholder, at + length.size())) {
      block.replace(at, kPlaceholder.size(), length);
    }
  }
  block += "\r\n\r\n";
  return block;
}

std::vector<std::string> HeaderLines(std::string_view block) {
  std::vector<std::string> lines;
  while (!block.empty()) {
    size_t end = block.find('\n');
    std::string_view line = block.substr(0, end);
    block = end == std::string_view::npos ? std::string_view() : block.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || TrimBlanks(line.substr(0, colon)).empty()) continue;
    lines.emplace_back(line);
  }
  return lines;
}

std::string MaskHeaderSecrets(std::string_view block) {
  std::string masked;
  masked.reserve(block.size());
  while (!block.empty()) {
    size_t end = block.find('\n');
    std::string_view line = block.substr(0, end);
    bool had_lf = end != std::string_view::npos;
    block = had_lf ? block.substr(end + 1) : std::string_view();
    bool had_cr = !line.empty() && line.back() == '\r';
    if (had_cr) line.remove_suffix(1);
    masked += MaskLine(line);
    if (had_cr) masked.push_back('\r');
    if (had_lf) masked.push_back('\n');
  }
  return masked;
}

std::string MaskUrlPassword(std::string_view url) {
  const size_t scheme = url.find("://");
  const size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
  const std::string_view authority = url.substr(start, url.find_first_of("/?#", start) - start);
  const size_t at = authority.rfind('@');
  const size_t colon = authority.find(':');
  if (at == std::string_view::npos || colon == std::string_view::npos || colon > at) {
    return std::string(url);
  }
  return std::string(url.substr(0, start + colon + 1)) + kMaskedSecret +
         std::string(url.substr(start + at));
}

}  // namespace vornlink
