// A DMS for the exchange and delivery tests: settings that point the driver
// at it, its replies, and a scripted TCP server on loopback (also for Wine).
#ifndef VORNLINK_TESTS_EXCHANGE_DMS_FIXTURE_H_
#define VORNLINK_TESTS_EXCHANGE_DMS_FIXTURE_H_

#include <functional>
#include <string>
#include <vector>

#include "transport/transport_test_support.h"

namespace vornlink {
namespace testing {

// A forward-transaction reply: a SOAP insertResponse with `code`, `message`.
std::string ForwardReply(const std::string& code, const std::string& message);
// A job-validation reply listing one job line, with `error_code`.
std::string ValidationReply(const std::string& ro_number, const std::string& line_code,
                            const std::string& error_code);

// The settings beside the module for exchanges with a DMS on loopback. Forward replies: code by
// ":insertResponse/code" with peel, success codes "success,both", retry codes "locked,both".
// Validation replies: code by "ServiceSales/ErrorCode" without peel, valid code "0".
struct DmsSetup {
  std::string transport = "TCP";  // the Setup item TP
  std::string port;               // PO, for TCP
  std::string url;                // FU and JU, for HTTP
  std::string header = "0";       // FH and JH
  std::string wo_split = "6";
  std::string log_file;  // the log, all flags on, when not empty
  std::string forward_query =
      "<insert><trans>%@01</trans><ro>%@07</ro><line>%@17</line>"
      "<qty>%.2@09</qty><user>%@03</user></insert>";
  std::string validation_query = "<job><ro>%@01</ro><line>%@11</line></job>";
  std::string forward_code_spec = ":insertResponse/code";
  std::string success_codes = "success,both";
  std::string retry_codes = "locked,both";
  // More Setup items: name, value.
  std::vector<std::pair<std::string, std::string>> items;
};
std::string SettingsDocument(const DmsSetup& setup);

// A DMS on a free loopback port: each request (up to its NUL byte) is answered with
// `answer(request)` and one NUL byte, on the server's thread, one request after the other.
class ScriptedDms {
 public:
  using Answer = std::function<std::string(const std::string& request)>;
  explicit ScriptedDms(Answer answer);

  std::string port_text() const { return server_.port_text(); }
  // The requests as received, NUL byte included.
  std::vector<std::string> requests() { return server_.requests(); }

 private:
  Answer answer_;
  TcpTestServer server_;  // after answer_, which its thread uses
};

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_EXCHANGE_DMS_FIXTURE_H_
