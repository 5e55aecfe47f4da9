#include "vornlink/base/exchange_sample.h"

#include <ctime>
#include <ostream>

#include "cache/cache_record.h"
#include "driver/service.h"
#include "exchange/job_number.h"
#include "platform/env.h"
#include "settings/read_setting.h"
#include "vornlink/base/command_line.h"

namespace vornlink {
namespace {

// The work order the emulated DMS's canned validation reply knows, with
// its line codes A, B and C.
constexpr char kSampleWorkOrder[] = "118739";

std::string SampleJobNo() {
  const std::string wo_split = ReadDriverSetting("KMR/System/WoSplit");
  if (KeepsJobNoWhole(wo_split)) return std::string(kSampleWorkOrder) + ".A";
  const int32_t width = WorkOrderWidth(wo_split);
  if (width < 1 || width > 64) return std::string(kSampleWorkOrder) + ".A";
  std::string work_order;
  while (static_cast<int32_t>(work_order.size()) < width) work_order += kSampleWorkOrder;
  return work_order.substr(0, static_cast<size_t>(width)) + ".A";
}

std::string Now(const char* format) {
  std::tm local{};
  char text[16] = "000000";
  if (ToLocalTime(GetEnv()->UnixTime(), &local)) std::strftime(text, sizeof text, format, &local);
  return text;
}

}  // namespace

bool ParseSampleOptions(const std::vector<std::string>& args, ExchangeSample* sample,
                        std::vector<std::string>* rest, std::ostream& err) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word != "--transaction" && word != "--job") {
      rest->push_back(word);
      continue;
    }
    if (i + 1 >= args.size()) {
      err << "vornlink: " << word << " needs a value\n";
      return false;
    }
    const std::string& value = args[++i];
    if (word == "--job") {
      sample->job_no = value;
      sample->job_given = true;
      continue;
    }
    std::vector<std::string> fields = SplitCsv(value);
    if (fields.size() != kTransactionFieldCount) {
      err << "vornlink: --transaction takes the 12 fields of a transaction separated by commas "
             "(TransNo,JobNo,Date,Time,UserId,Field04,Field05,FluidKey,FluidName,FluidPartNo,"
             "Quantity,Field08), not "
          << fields.size() << "\n";
      return false;
    }
    for (size_t f = 0; f < kTransactionFieldCount; ++f) sample->transaction[f] = fields[f];
    sample->transaction_given = true;
  }
  return true;
}

void CompleteSample(ExchangeSample* sample) {
  if (!sample->job_given) {
    sample->job_no = sample->transaction_given ? sample->transaction[kJobNo] : SampleJobNo();
  }
  TransactionFields& t = sample->transaction;
  if (!sample->transaction_given) {
    t = {"4711", sample->job_no, Now("%y%m%d"), Now("%H%M%S"), "7", "BAY1", "1",
         "1",    "Engine Oil",   "OIL-1",       "4.5",         "0"};
  }
  LookUpFluid(&t);
  // As the cache line holds it, whence the worker takes it.
  for (std::string& field : t) field = FieldAsWritten(field, /*keep_commas=*/false);
}

std::string TransactionCsv(const TransactionFields& transaction) {
  std::string line = transaction[0];
  for (size_t i = 1; i < transaction.size(); ++i) line += "," + transaction[i];
  return line;
}

}  // namespace vornlink
