#include "vornlink/try/dms_place.h"

#include <cctype>
#include <iostream>

#include "base/failure_text.h"
#include "exchange/dms_query.h"
#include "exchange/ext_format.h"
#include "exchange/setup_ordinals.h"
#include "platform/terminal.h"
#include "transport/http_headers.h"

namespace vornlink {

std::string HostOfUrl(std::string_view url) {
  const size_t scheme = url.find("://");
  std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  const size_t at = rest.rfind('@');
  if (at != std::string_view::npos) rest.remove_prefix(at + 1);
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    return std::string(rest.substr(1, close == std::string_view::npos ? rest.npos : close - 1));
  }
  return std::string(rest.substr(0, rest.find(':')));
}

bool IsThisMachine(std::string_view host) {
  std::string lower;
  for (char c : host)
    lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  if (lower == "localhost" || lower == "localhost." || lower == "::1") return true;
  // 127.a.b.c: four parts of digits only, the first 127.
  if (lower.compare(0, 4, "127.") != 0) return false;
  int dots = 0;
  for (size_t i = 4; i < lower.size(); ++i) {
    if (lower[i] == '.') {
      if (lower[i - 1] == '.') return false;
      ++dots;
    } else if (!std::isdigit(static_cast<unsigned char>(lower[i]))) {
      return false;
    }
  }
  return dots == 2 && lower.back() != '.';
}

bool RouteOfSettings(ExchangeKind kind, DmsRoute* route) {
  ExtFormat format;
  LoadSetupOrdinals(&format);
  try {
    *route = RouteToDms(format, kind);
    return true;
  } catch (const FailureText&) {
    return false;  // the exchange's own verdict says what is missing
  }
}

std::string PlaceOf(const DmsRoute& route) {
  return route.over_tcp ? route.host + " port " + route.port : MaskUrlPassword(route.url);
}

std::string BookingPlaceElsewhere() {
  DmsRoute route;
  if (!RouteOfSettings(ExchangeKind::kForwardTransaction, &route)) return std::string();
  const std::string host = route.over_tcp ? route.host : HostOfUrl(route.url);
  if (host.empty() || IsThisMachine(host)) return std::string();
  return PlaceOf(route);
}

bool MayBookElsewhere(const std::string& place, const std::string& trans_no, bool yes,
                      std::ostream& out, std::ostream& err) {
  if (yes) return true;
  const std::string what = "the forward exchange books a made-up transaction (TransNo " + trans_no +
                           ") at the DMS at " + place + ", which is not on this machine";
  if (&out == &std::cout && StandardOutputIsTerminal() && StandardInputIsTerminal()) {
    out << "vornlink try: " << what << ". Book it there? [y/N] " << std::flush;
    std::string answer;
    if (std::getline(std::cin, answer) && (answer == "y" || answer == "Y" || answer == "yes")) {
      return true;
    }
  }
  err << "vornlink try: nothing sent: " << what
      << "; add --yes to book it there, or --only validate to ask only for the job\n";
  return false;
}

}  // namespace vornlink
