// The wire of one libcurl request, told to the calling thread's HttpWireTap
// (platform/http_client.h): its heads, through libcurl's debug callback.
#ifndef VORNLINK_PLATFORM_POSIX_HTTP_WIRE_POSIX_H_
#define VORNLINK_PLATFORM_POSIX_HTTP_WIRE_POSIX_H_

#include <curl/curl.h>

#include <string>

namespace vornlink {

// The response head being gathered, line by line, for the tap.
struct WireHeads {
  std::string response_head;
};

// With a tap set on this thread, makes `easy` report its heads to it
// (`heads` must outlive the transfer); without one, leaves it as it is.
void TapHeadsOfTransfer(CURL* easy, WireHeads* heads);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_POSIX_HTTP_WIRE_POSIX_H_
