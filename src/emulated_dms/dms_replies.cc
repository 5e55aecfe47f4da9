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
constexpr const char kJobRecords[] =
    "<ServiceSales xmlns=\"urn:example:dms:service-sales\">\r\n"
    "  <ServiceSalesDetailsOpen>\r\n"
    "    <HostItemID>118739*A</HostItemID>\r\n"
    "    <RONumber>118739</RONumber>\r\n"
    "    <LineCode>A</LineCode>\r\n"
    "    <OpCode>01OIL</OpCode>\r\n"
    "    <OpCodeDescription>ENGINE OIL AND FILTER CHANGE</OpCodeDescription>\r\n"
    "    <LaborType>C</LaborType>\r\n"
    "    <PartsSale>42.50</PartsSale>\r\n"
    "    <TechNo>121</TechNo>\r\n"
    "    <ErrorLevel>0</ErrorLevel>\r\n"
    "    <ErrorMessage></ErrorMessage>\r\n"
    "  </ServiceSalesDetailsOpen>\r\n"
    "  <ServiceSalesDetailsOpen>\r\n"
    "    <HostItemID>118739*B</HostItemID>\r\n"
    "    <RONumber>118739</RONumber>\r\n"
    "    <LineCode>B</LineCode>\r\n"
    "    <OpCode>05ATF</OpCode>\r\n"
    "    <OpCodeDescription>TRANSMISSION FLUID SERVICE</OpCodeDescription>\r\n"
    "    <LaborType>C</LaborType>\r\n"
    "    <PartsSale>86.10</PartsSale>\r\n"
    "    <TechNo>121</TechNo>\r\n"
    "    <ErrorLevel>0</ErrorLevel>\r\n"
    "    <ErrorMessage></ErrorMessage>\r\n"
    "  </ServiceSalesDetailsOpen>\r\n"
    "  <ServiceSalesDetailsOpen>\r\n"
    "    <HostItemID>118739*C</HostItemID>\r\n"
    "    <RONumber>118739</RONumber>\r\n"
    "    <LineCode>C</LineCode>\r\n"
    "    <OpCode>09COOL</OpCode>\r\n"
    "    <OpCodeDescription>COOLANT FLUSH</OpCodeDescription>\r\n"
    "    <LaborType>W</LaborType>\r\n"
    "    <PartsSale>0.00</PartsSale>\r\n"
    "    <TechNo>134</TechNo>\r\n"
    "    <ErrorLevel>0</ErrorLevel>\r\n"
    "    <ErrorMessage></ErrorMessage>\r\n"
    "  </ServiceSalesDetailsOpen>\r\n";

// The same three open lines either way: only the ErrorCode tells the driver
// whether the job was found (0) or not (2).
std::string JobReply(const char* error_code) {
  return std::string(kJobRecords) + "  <ErrorCode>" + error_code +
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

std::string CannedReplyText(CannedReply reply) {
  switch (reply) {
    case CannedReply::kJobNotValid:
      return JobReply("2");
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
  return JobReply("0");
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
