#include "vornlink/check/pem_certificates.h"

#include <cstdint>

namespace vornlink {
namespace {

constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kEnd = "-----END CERTIFICATE-----";

// The bytes of Base64 text; characters outside the alphabet (line breaks)
// are skipped. False for a text that does not decode.
bool DecodeBase64(std::string_view text, std::string* bytes) {
  uint32_t group = 0;
  int bits = 0;
  for (char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z') {
      value = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      value = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      value = c - '0' + 52;
    } else if (c == '+') {
      value = 62;
    } else if (c == '/') {
      value = 63;
    } else if (c == '=' || c == '\r' || c == '\n' || c == ' ' || c == '\t') {
      continue;
    } else {
      return false;
    }
    group = (group << 6) | static_cast<uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes->push_back(static_cast<char>((group >> bits) & 0xff));
    }
  }
  return !bytes->empty();
}

// One DER element: its tag and its content.
struct Element {
  unsigned char tag = 0;
  std::string_view content;
};

// Takes the next element off the front of `*rest`. False when the bytes do
// not hold a whole one (only definite lengths, as DER has).
bool Next(std::string_view* rest, Element* element) {
  if (rest->size() < 2) return false;
  element->tag = static_cast<unsigned char>((*rest)[0]);
  size_t length = static_cast<unsigned char>((*rest)[1]);
  size_t head = 2;
  if (length & 0x80) {
    size_t count = length & 0x7f;
    if (count == 0 || count > 4 || rest->size() < 2 + count) return false;
    length = 0;
    for (size_t i = 0; i < count; ++i) {
      length = (length << 8) | static_cast<unsigned char>((*rest)[2 + i]);
    }
    head += count;
  }
  if (rest->size() - head < length) return false;
  element->content = rest->substr(head, length);
  rest->remove_prefix(head + length);
  return true;
}

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kSet = 0x31;
constexpr unsigned char kOid = 0x06;
constexpr unsigned char kUtcTime = 0x17;
constexpr unsigned char kGeneralizedTime = 0x18;
constexpr unsigned char kBmpString = 0x1e;
constexpr unsigned char kVersionTag = 0xa0;

// The attribute's short name for the OIDs 2.5.4.3, 2.5.4.10 and 2.5.4.11.
const char* AttributeName(std::string_view oid) {
  if (oid.size() != 3 || oid[0] != 0x55 || oid[1] != 0x04) return nullptr;
  switch (oid[2]) {
    case 0x03:
      return "CN";
    case 0x0a:
      return "O";
    case 0x0b:
      return "OU";
    default:
      return nullptr;
  }
}

std::string Text(const Element& value) {
  if (value.tag != kBmpString) return std::string(value.content);
  std::string text;  // UTF-16 big-endian; ASCII kept, the rest as '?'
  for (size_t i = 0; i + 1 < value.content.size(); i += 2) {
    char high = value.content[i];
    char low = value.content[i + 1];
    text.push_back(high == 0 && (low & 0x80) == 0 ? low : '?');
  }
  return text;
}

// "CN=..., O=..." of a Name.
std::string NameText(std::string_view name) {
  std::string text;
  Element set;
  while (Next(&name, &set)) {
    if (set.tag != kSet) continue;
    std::string_view attributes = set.content;
    Element attribute;
    while (Next(&attributes, &attribute)) {
      std::string_view parts = attribute.content;
      Element oid, value;
      if (attribute.tag != kSequence || !Next(&parts, &oid) || oid.tag != kOid ||
          !Next(&parts, &value)) {
        continue;
      }
      const char* short_name = AttributeName(oid.content);
      if (short_name == nullptr) continue;
      if (!text.empty()) text += ", ";
      text += std::string(short_name) + "=" + Text(value);
    }
  }
  return text;
}

// A UTCTime or GeneralizedTime as "YYYYMMDDHHMMSS"; empty when odd.
std::string TimeKey(const Element& time) {
  std::string digits(time.content);
  if (!digits.empty() && digits.back() == 'Z') digits.pop_back();
  if (time.tag == kUtcTime && digits.size() == 12) {
    digits = (digits.compare(0, 2, "50") < 0 ? "20" : "19") + digits;
  } else if (time.tag != kGeneralizedTime || digits.size() != 14) {
    return std::string();
  }
  for (char c : digits) {
    if (c < '0' || c > '9') return std::string();
  }
  return digits;
}

CertificateSummary Summarise(std::string_view der) {
  CertificateSummary summary;
  Element certificate, tbs, field;
  if (!Next(&der, &certificate) || certificate.tag != kSequence) return summary;
  std::string_view rest = certificate.content;
  if (!Next(&rest, &tbs) || tbs.tag != kSequence) return summary;
  std::string_view fields = tbs.content;
  // [0] version, serial number, signature algorithm, issuer, validity,
  // subject.
  if (!Next(&fields, &field)) return summary;
  if (field.tag == kVersionTag && !Next(&fields, &field)) return summary;
  Element algorithm, issuer, validity, subject;
  if (!Next(&fields, &algorithm) || !Next(&fields, &issuer) || !Next(&fields, &validity) ||
      !Next(&fields, &subject) || validity.tag != kSequence || subject.tag != kSequence) {
    return summary;
  }
  std::string_view times = validity.content;
  Element not_before, not_after;
  if (!Next(&times, &not_before) || !Next(&times, &not_after)) return summary;
  summary.not_after_key = TimeKey(not_after);
  if (summary.not_after_key.empty()) return summary;
  const std::string& k = summary.not_after_key;
  summary.not_after = k.substr(0, 4) + "-" + k.substr(4, 2) + "-" + k.substr(6, 2) + " " +
                      k.substr(8, 2) + ":" + k.substr(10, 2) + ":" + k.substr(12, 2) + " UTC";
  summary.subject = NameText(subject.content);
  summary.readable = true;
  return summary;
}

}  // namespace

std::vector<CertificateSummary> ReadPemCertificates(std::string_view pem) {
  std::vector<CertificateSummary> certificates;
  size_t at = 0;
  for (;;) {
    size_t begin = pem.find(kBegin, at);
    if (begin == std::string_view::npos) break;
    begin += kBegin.size();
    size_t end = pem.find(kEnd, begin);
    if (end == std::string_view::npos) {
      certificates.push_back(CertificateSummary());
      break;
    }
    std::string der;
    certificates.push_back(
        DecodeBase64(pem.substr(begin, end - begin), &der) ? Summarise(der) : CertificateSummary());
    at = end + kEnd.size();
  }
  return certificates;
}

}  // namespace vornlink
