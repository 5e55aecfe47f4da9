#include "emulated_dms/dms_replies.h"

#include <cctype>

namespace vornlink {
namespace {

struct CannedReplyEntry {
  CannedReply reply;
  const char* name;
  const char* caption;
};

const CannedReplyEntry kEntries[] = {
    {CannedReply::kJobValid, "job-valid", "Job VALID"},
    {CannedReply::kJobNotValid, "job-notvalid", "Job NOTVALID"},
    {CannedReply::kFwtSuccess, "fwt-success", "Fwt SUCCESS"},
    {CannedReply::kFwtRetry, "fwt-retry", "Fwt RETRY"},
    {CannedReply::kFwtFailed, "fwt-failed", "Fwt FAILED"},
};

const CannedReplyEntry& Entry(CannedReply reply) {
  for (const CannedReplyEntry& entry : kEntries) {
    if (entry.reply == reply) return entry;
  }
  return kEntries[0];
}

// The sample values of the job records (operation codes, descriptions,
// amounts, technicians) are made up; the fields the exchanges look at are
// RONumber, LineCode, ErrorCode and ErrorMessage, and in the forward
// replies code, message, returnCode and errorText.
struct JobLine {
  const char* line_code;
  const char* op_code;
  const char* description;
  const char* labor_type;
  const char* parts_sale;
  const char* tech_no;
};

constexpr JobLine kJobLines[] = {
    {"A", "01OIL", "ENGINE OIL AND FILTER CHANGE", "C", "42.50", "121"},
    {"B", "05ATF", "TRANSMISSION FLUID SERVICE", "C", "86.10", "121"},
    {"C", "09COOL", "COOLANT FLUSH", "W", "0.00", "134"},
};
constexpr const char kSampleWorkOrder[] = "118739";
constexpr size_t kMaxAskedValueSize = 32;

// The text of the first element `name` in `request` when it is a plausible
// work order or line code (printable, no markup, not too long); else
// empty.
std::string AskedValue(std::string_view request, const std::string& name) {
  const std::string open = "<" + name + ">";
  const size_t start = request.find(open);
  if (start == std::string_view::npos) return std::string();
  const std::string_view rest = request.substr(start + open.size());
  const std::string_view value = rest.substr(0, rest.find('<'));
  if (value.empty() || value.size() > kMaxAskedValueSize || value.size() == rest.size()) {
    return std::string();
  }
  for (char c : value) {
    if (c <= ' ' || c > '~' || c == '>' || c == '&') return std::string();
  }
  return std::string(value);
}

// Three open lines of one work order, either way: only the ErrorCode tells
// the driver whether the job was found (0) or not (2).
std::string JobReply(const char* error_code, std::string_view request) {
  std::string work_order = AskedValue(request, "RONumber");
  if (work_order.empty()) work_order = kSampleWorkOrder;
  const std::string asked_line = AskedValue(request, "LineCode");
  bool asked_line_listed = asked_line.empty();
  for (const JobLine& line : kJobLines) asked_line_listed |= asked_line == line.line_code;
  std::string reply = "<ServiceSales xmlns=\"urn:example:dms:service-sales\">\r\n";
  for (const JobLine& line : kJobLines) {
    const std::string code =
        !asked_line_listed && &line == &kJobLines[0] ? asked_line : line.line_code;
    reply += std::string("  <ServiceSalesDetailsOpen>\r\n") + "    <HostItemID>" + work_order +
             "*" + code + "</HostItemID>\r\n" + "    <RONumber>" + work_order + "</RONumber>\r\n" +
             "    <LineCode>" + code + "</LineCode>\r\n" + "    <OpCode>" + line.op_code +
             "</OpCode>\r\n" + "    <OpCodeDescription>" + line.description +
             "</OpCodeDescription>\r\n" + "    <LaborType>" + line.labor_type + "</LaborType>\r\n" +
             "    <PartsSale>" + line.parts_sale + "</PartsSale>\r\n" + "    <TechNo>" +
             line.tech_no + "</TechNo>\r\n" + "    <ErrorLevel>0</ErrorLevel>\r\n" +
             "    <ErrorMessage></ErrorMessage>\r\n" + "  </ServiceSalesDetailsOpen>\r\n";
  }
  return reply + "  <ErrorCode>" + error_code +
         "</ErrorCode>\r\n"
         "  <ErrorMessage></ErrorMessage>\r\n"
         "</ServiceSales>\r\n";
}

// One booked part line; the outcomes differ only in the four fields the
// reply rules read.
std::string ForwardReply(const char* code, const char* message, const char* return_code,
                         const char* error_text) {
  return std::string(
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
             "<S:Envelope xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\">\r\n"
             "  <S:Body>\r\n"
             "    <ns2:insertResponse xmlns:ns2=\"urn:example:dms:repair-order-parts\">\r\n"
             "      <return>\r\n"
             "        <code>") +
         code + "</code>\r\n        <message>" + message +
         "</message>\r\n"
         "        <repairOrderParts>\r\n"
         "          <checkSum></checkSum>\r\n"
         "          <lockPort></lockPort>\r\n"
         "          <lockUser></lockUser>\r\n"
         "          <orderNumber>183180</orderNumber>\r\n"
         "          <lineCode>A</lineCode>\r\n"
         "          <lineSeq>1</lineSeq>\r\n"
         "          <partNumber>12345616</partNumber>\r\n"
         "          <orderQty>2</orderQty>\r\n"
         "          <partDesc>OIL10W30Q</partDesc>\r\n"
         "          <employeeNumber>21</employeeNumber>\r\n"
         "          <fillQty>2</fillQty>\r\n"
         "          <salesman>?</salesman>\r\n"
         "          <lineStatusDesc>?</lineStatusDesc>\r\n"
         "          <comment>Fluid dispense insert</comment>\r\n"
         "          <allowPartNotOnFile>0</allowPartNotOnFile>\r\n"
         "          <source>Fluid monitoring system</source>\r\n"
         "          <returnCode>" +
         return_code + "</returnCode>\r\n          <errorText>" + error_text +
         "</errorText>\r\n"
         "        </repairOrderParts>\r\n"
         "      </return>\r\n"
         "    </ns2:insertResponse>\r\n"
         "  </S:Body>\r\n"
         "</S:Envelope>\r\n";
}

}  // namespace

std::string CannedReplyText(CannedReply reply, std::string_view request) {
  switch (reply) {
    case CannedReply::kJobNotValid:
      return JobReply("2", request);
    case CannedReply::kFwtSuccess:
      return ForwardReply("success", "0:Order \"?\" is updated", "0", "OK");
    case CannedReply::kFwtRetry:
      return ForwardReply("failure", "2:Order \"?\" is locked", "2", "Item is locked");
    case CannedReply::kFwtFailed:
      return ForwardReply("failure", "5:User ID \"?\" is not valid", "5",
                          "User ID \"?\" is not valid");
    case CannedReply::kJobValid:
      break;
  }
  return JobReply("0", request);
}

std::string ReplyForRequest(const std::string& reply, std::string_view request) {
  static const std::string kValid = CannedReplyText(CannedReply::kJobValid);
  static const std::string kNotValid = CannedReplyText(CannedReply::kJobNotValid);
  if (reply == kValid) return CannedReplyText(CannedReply::kJobValid, request);
  if (reply == kNotValid) return CannedReplyText(CannedReply::kJobNotValid, request);
  return reply;
}

const char* CannedReplyName(CannedReply reply) { return Entry(reply).name; }

const char* CannedReplyCaption(CannedReply reply) { return Entry(reply).caption; }

bool CannedReplyByName(const std::string& name, CannedReply* reply) {
  std::string lower;
  for (char c : name)
    lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  for (const CannedReplyEntry& entry : kEntries) {
    if (lower == entry.name) {
      *reply = entry.reply;
      return true;
    }
  }
  return false;
}

}  // namespace vornlink
