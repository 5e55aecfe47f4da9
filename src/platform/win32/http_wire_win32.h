// The wire of one request of the Windows internet library, told to a
// HttpWireTap (platform/http_client.h) once the library has sent it: the
// request's head as the library wrote it, the response's head, and on
// HTTPS the server's certificate (also when the library refused it); and
// HeadersAsSent (platform/http_client.h) of this library.
#ifndef VORNLINK_PLATFORM_WIN32_HTTP_WIRE_WIN32_H_
#define VORNLINK_PLATFORM_WIN32_HTTP_WIRE_WIN32_H_

#include <windows.h>
#include <wininet.h>

#include "platform/http_client.h"

namespace vornlink {

// After HttpSendRequest returned true: both heads of `request` to `tap`.
void TellHeads(HINTERNET request, HttpWireTap* tap);

// After HttpSendRequest on HTTPS, whatever it returned: the certificate the
// server showed, if the library kept one.
void TellCertificate(HINTERNET request, HttpWireTap* tap);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_WIN32_HTTP_WIRE_WIN32_H_
