#include "emulated_dms/dms_replies.h"

#include <cctype>

namespace vornlink {
namespace {

struct CannedReplyEntry {
  CannedReply reply;
  const char* name;
  const char* caption;
  const char* text;
};

// The sample values of the job records (operation codes, descriptions,
// amounts, technicians) are made up; the fields the exchanges look at are
// RONumber, LineCode, ErrorCode and ErrorMessage, and in the forward
// replies code, message, returnCode and errorText.
const CannedReplyEntry kEntries[] = {
    {CannedReply::kJobValid, "job-valid", "Job VALID",
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
     "  </ServiceSalesDetailsOpen>\r\n"
     "  <ErrorCode>0</ErrorCode>\r\n"
     "  <ErrorMessage></ErrorMessage>\r\n"
     "</ServiceSales>\r\n"},
    {CannedReply::kJobNotValid, "job-notvalid", "Job NOTVALID",
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
     "  </ServiceSalesDetailsOpen>\r\n"
     "  <ErrorCode>2</ErrorCode>\r\n"
     "  <ErrorMessage></ErrorMessage>\r\n"
     "</ServiceSales>\r\n"},
    {CannedReply::kFwtSuccess, "fwt-success", "Fwt SUCCESS",
     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
     "<S:Envelope xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\">\r\n"
     "  <S:Body>\r\n"
     "    <ns2:insertResponse xmlns:ns2=\"urn:example:dms:repair-order-parts\">\r\n"
     "      <return>\r\n"
     "        <code>success</code>\r\n"
     "        <message>0:Order \"?\" is updated</message>\r\n"
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
     "          <returnCode>0</returnCode>\r\n"
     "          <errorText>OK</errorText>\r\n"
     "        </repairOrderParts>\r\n"
     "      </return>\r\n"
     "    </ns2:insertResponse>\r\n"
     "  </S:Body>\r\n"
     "</S:Envelope>\r\n"},
    {CannedReply::kFwtRetry, "fwt-retry", "Fwt RETRY",
     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
     "<S:Envelope xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\">\r\n"
     "  <S:Body>\r\n"
     "    <ns2:insertResponse xmlns:ns2=\"urn:example:dms:repair-order-parts\">\r\n"
     "      <return>\r\n"
     "        <code>failure</code>\r\n"
     "        <message>2:Order \"?\" is locked</message>\r\n"
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
     "          <returnCode>2</returnCode>\r\n"
     "          <errorText>Item is locked</errorText>\r\n"
     "        </repairOrderParts>\r\n"
     "      </return>\r\n"
     "    </ns2:insertResponse>\r\n"
     "  </S:Body>\r\n"
     "</S:Envelope>\r\n"},
    {CannedReply::kFwtFailed, "fwt-failed", "Fwt FAILED",
     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
     "<S:Envelope xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\">\r\n"
     "  <S:Body>\r\n"
     "    <ns2:insertResponse xmlns:ns2=\"urn:example:dms:repair-order-parts\">\r\n"
     "      <return>\r\n"
     "        <code>failure</code>\r\n"
     "        <message>5:User ID \"?\" is not valid</message>\r\n"
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
     "          <returnCode>5</returnCode>\r\n"
     "          <errorText>User ID \"?\" is not valid</errorText>\r\n"
     "        </repairOrderParts>\r\n"
     "      </return>\r\n"
     "    </ns2:insertResponse>\r\n"
     "  </S:Body>\r\n"
     "</S:Envelope>\r\n"},
};

const CannedReplyEntry& Entry(CannedReply reply) {
  for (const CannedReplyEntry& entry : kEntries) {
    if (entry.reply == reply) return entry;
  }
  return kEntries[0];
}

}  // namespace

std::string CannedReplyText(CannedReply reply) { return Entry(reply).text; }

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
