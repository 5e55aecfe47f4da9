#include "dms_fixture.h"

namespace vornlink {
namespace testing {
namespace {

std::string Item(const std::string& name, const std::string& value) {
  return "<" + name + ">\n<Value>" + value + "</Value>\n</" + name + ">\n";
}

}  // namespace

std::string ForwardReply(const std::string& code, const std::string& message) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><S:Envelope xmlns:S=\"urn:soap\"><S:Body>"
         "<ns2:insertResponse xmlns:ns2=\"urn:parts\"><return><code>" +
         code + "</code><message>" + message +
         "</message></return></ns2:insertResponse></S:Body></S:Envelope>";
}

std::string ValidationReply(const std::string& ro_number, const std::string& line_code,
                            const std::string& error_code) {
  return "<ServiceSales xmlns=\"urn:sales\"><ServiceSalesDetailsOpen><RONumber>" + ro_number +
         "</RONumber><LineCode>" + line_code + "</LineCode></ServiceSalesDetailsOpen><ErrorCode>" +
         error_code + "</ErrorCode><ErrorMessage></ErrorMessage></ServiceSales>";
}

std::string SettingsDocument(const DmsSetup& setup) {
  std::string xml = "<KMR>\n";
  if (!setup.log_file.empty()) {
    xml += "  <Log>\n    <FileName>" + setup.log_file +
           "</FileName>\n    <MaxLines>100000</MaxLines>\n    <Flags>+cdhinprst</Flags>\n"
           "  </Log>\n";
  }
  xml += "  <System>\n    <WoSplit>" + setup.wo_split + "</WoSplit>\n  </System>\n";
  xml +=
      "  <ForwardTransactionQuery>\n  " + setup.forward_query + "\n  </ForwardTransactionQuery>\n";
  xml += "  <IsJobValidQuery>\n  " + setup.validation_query + "\n  </IsJobValidQuery>\n";
  xml += "  <ForwardTransactionResult>\n    <Result>" + setup.forward_code_spec +
         "</Result>\n    <Description>:insertResponse/message</Description>\n"
         "    <SuccessResult>" +
         setup.success_codes + "</SuccessResult>\n    <RetryResult>" + setup.retry_codes +
         "</RetryResult>\n  </ForwardTransactionResult>\n";
  xml +=
      "  <IsJobValidResult>\n    <Result>ServiceSales/ErrorCode</Result>\n"
      "    <Description>ServiceSales/ErrorMessage</Description>\n"
      "    <ValidResult>0</ValidResult>\n  </IsJobValidResult>\n";
  xml += "<Setup>\n" + Item("TP", setup.transport) + Item("FL", "1") + Item("JL", "1") +
         Item("FS", "1") + Item("JS", "0");
  if (setup.transport == "TCP") {
    xml += Item("SR", "127.0.0.1") + Item("PO", setup.port);
  } else {
    for (char exchange : {'F', 'J'}) {
      const std::string e(1, exchange);
      xml += Item(e + "U", setup.url) + Item(e + "N", "user") + Item(e + "P", "pw-s3cret") +
             Item(e + "M", "POST") + Item(e + "H", setup.header);
    }
  }
  for (const auto& [name, value] : setup.items) xml += Item(name, value);
  return xml + "</Setup>\n</KMR>\n";
}

ScriptedDms::ScriptedDms(Answer answer)
    : answer_(std::move(answer)),
      server_([this](NetConnection& connection, const StopSignal& stop) {
        std::string request = server_.ReadRequest(connection);
        if (!request.empty() && request.back() == '\0') request.pop_back();
        std::string reply = answer_(request);
        reply.push_back('\0');
        connection.SendAll(reply, WaitLimit::After(std::chrono::seconds(10), &stop));
      }) {}

}  // namespace testing
}  // namespace vornlink
