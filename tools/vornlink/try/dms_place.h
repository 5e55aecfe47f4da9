// Whether the DMS that an exchange goes to runs on this machine: `try`
// books a made-up transaction only there without asking.
#ifndef VORNLINK_TOOLS_VORNLINK_TRY_DMS_PLACE_H_
#define VORNLINK_TOOLS_VORNLINK_TRY_DMS_PLACE_H_

#include <ostream>
#include <string>
#include <string_view>

#include "exchange/dms_query.h"

namespace vornlink {

// The host part of `url` ("dms.example.com" of
// "https://user:pw@dms.example.com:8443/ws", "::1" of "http://[::1]/"), as
// written; "" when it has none. Pure.
std::string HostOfUrl(std::string_view url);

// Whether `host` names this machine by a loopback name or address:
// "localhost", 127.0.0.0/8, "::1". Any other name may lead elsewhere, so
// it does not count. Pure.
bool IsThisMachine(std::string_view host);

// Where the settings beside the module in use send an exchange of `kind`;
// false when they do not say (the exchange then tells what is missing).
bool RouteOfSettings(ExchangeKind kind, DmsRoute* route);

// The route as a person reads it: the TCP host and port, or the URL with
// its password masked.
std::string PlaceOf(const DmsRoute& route);

// Where the forward exchange of the settings beside the module in use would
// book, when that is not this machine; "" when it is, or when the settings
// do not say (the exchange then tells what is missing).
std::string BookingPlaceElsewhere();

// Whether the made-up transaction `trans_no` may be booked at `place`:
// given `yes`, or the person at the terminal says so (asked only when `out`
// is the standard output and both it and the input are a terminal);
// refused on `err` otherwise.
bool MayBookElsewhere(const std::string& place, const std::string& trans_no, bool yes,
                      std::ostream& out, std::ostream& err);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_TRY_DMS_PLACE_H_
