// http_probe TYPE URL METHOD HEADER_TEMPLATE BODY: one HTTP exchange as the
// validation exchange makes it (dynamic length, user "probe", password
// "secret"), for comparing what the Linux and the Windows builds send (see
// compare_http_requests.sh). Prints the reply or the failure text.
#include <cstdio>
#include <string>

#include "base/failure_text.h"
#include "transport/http_headers.h"
#include "transport/http_transport.h"

int main(int argc, char** argv) {
  if (argc != 6) {
    std::printf("usage: http_probe TYPE URL METHOD HEADER_TEMPLATE BODY\n");
    return 2;
  }
  vornlink::TransportContext context;
  context.transport_type = argv[1];
  context.method = argv[3];
  context.exchange_prefix = "IJV";
  context.user_name = "probe";
  context.password = "secret";
  context.dynamic_length = "1";
  std::string message = argv[5];
  try {
    vornlink::HttpTransport(argv[2], &message,
                            vornlink::BuildHttpHeaders(argv[4], message, context), context);
    std::printf("reply: %s\n", message.c_str());
    return 0;
  } catch (const vornlink::FailureText& failure) {
    std::printf("failure: %s\n", failure.text().c_str());
    return 1;
  }
}
