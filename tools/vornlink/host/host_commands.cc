#include "vornlink/host/host_commands.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "cache/cache_file.h"
#include "settings/module_files.h"
#include "settings/read_setting.h"
#include "vornlink/base/command_line.h"
#include "vornlink/base/exit_codes.h"
#include "vornlink/base/site_env.h"

namespace vornlink {
namespace {

constexpr size_t kForward2Fields = 12;
constexpr size_t kForwardFields = 11;
constexpr int kDefaultCallbackWaitMs = 30000;

// The answer of an asynchronous validation, handed over by the callback.
struct CallbackAnswer {
  std::mutex mutex;
  std::condition_variable arrived;
  bool done = false;
  int32_t result = 0;
  std::string job_no;
};

CallbackAnswer& Answer() {
  static CallbackAnswer answer;
  return answer;
}

void VORNLINK_CDECL OnValidated(int32_t result, const char* job_no) {
  CallbackAnswer& answer = Answer();
  std::lock_guard<std::mutex> lock(answer.mutex);
  answer.done = true;
  answer.result = result;
  answer.job_no = job_no != nullptr ? job_no : "";
  answer.arrived.notify_all();
}

const char* Arg(const std::vector<std::string>& fields, size_t index) {
  return fields[index].c_str();
}

void Forward(const Driver& driver, const std::vector<std::string>& f) {
  const DriverApi& api = driver.api;
  driver.handed_over.BeforeCall(driver.module_path);
  TransactionFields fields;
  if (f.size() == kForward2Fields) {
    api.forward_transaction2(Arg(f, 0), Arg(f, 1), Arg(f, 2), Arg(f, 3), Arg(f, 4), Arg(f, 5),
                             Arg(f, 6), Arg(f, 7), Arg(f, 8), Arg(f, 9), Arg(f, 10), Arg(f, 11));
    std::copy(f.begin(), f.end(), fields.begin());
  } else {
    api.forward_transaction(Arg(f, 0), Arg(f, 1), Arg(f, 2), Arg(f, 3), Arg(f, 4), Arg(f, 5),
                            Arg(f, 6), Arg(f, 7), Arg(f, 8), Arg(f, 9), Arg(f, 10));
    // The short form gives the fluid's name for its part number too.
    std::copy(f.begin(), f.begin() + kFluidPartNo, fields.begin());
    std::copy(f.begin() + kFluidPartNo - 1, f.end(), fields.begin() + kFluidPartNo);
  }
  driver.handed_over.AfterCall(driver.module_path, fields, driver.service_started);
}

// Where the gates' verdicts on forwarded transactions can be read.
std::string WhereVerdictsAre(const Driver& driver) {
  const std::string settings = ReplaceExtension(driver.module_path, "xml");
  const std::string log = ReadSetting("KMR/Log/FileName", settings);
  if (log.empty()) {
    return "no log is set (KMR/Log/FileName in " + settings +
           "), so the gates' verdicts are not written";
  }
  if (!driver.service_started) {
    return "the driver writes the gates' verdicts to its log " + log +
           " only while the service runs: start it first (vornlink session)";
  }
  return "the gates' verdicts are in the log " + log;
}

// The lines of the module's cache file; -1 when it cannot be read.
long CacheLineCount(const Driver& driver) {
  SiteEnv site(driver.module_path);
  std::vector<NumberedRecord> records;
  std::string error;
  return ReadCacheRecords(&records, &error) ? static_cast<long>(records.size()) : -1;
}

// Says how many of `count` transactions the cache took (it held
// `lines_before` lines before them), so that one the gates dropped or
// refused does not go unnoticed, and where their verdicts are.
void ReportHandedOver(const Driver& driver, int count, long lines_before, std::ostream& out) {
  out << "handed " << count << (count == 1 ? " transaction" : " transactions") << " to the driver";
  const long lines_after = CacheLineCount(driver);
  if (lines_before >= 0 && lines_after >= lines_before) {
    const long taken = lines_after - lines_before;
    out << ", " << taken << " went into its cache";
    // A transaction the cache cannot take yet waits in the driver's memory.
    if (taken < count) {
      out << " (" << count - taken << " not: dropped or refused by the gates, or waiting for room)";
    }
  }
  out << "; " << WhereVerdictsAre(driver) << "\n";
}

// Whether `text` is a whole decimal number of milliseconds.
bool ParseMilliseconds(const std::string& text, int* value) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *value = std::stoi(text);
  return true;
}

int ForwardCsv(const Driver& driver, const std::string& file, std::ostream& out,
               std::ostream& err) {
  std::error_code error;
  std::ifstream in;
  if (std::filesystem::is_regular_file(file, error)) in.open(file, std::ios::binary);
  if (!in.is_open()) {
    err << "vornlink: cannot read " << file << ": not a readable file\n";
    return kExitFailed;
  }
  const long lines_before = CacheLineCount(driver);
  std::string line;
  int line_number = 0;
  int forwarded = 0;
  int rejected = 0;
  while (std::getline(in, line)) {
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields = SplitCsv(line);
    if (fields.size() != kForward2Fields && fields.size() != kForwardFields) {
      err << file << ":" << line_number << ": " << fields.size()
          << " fields; a transaction has 12 (or 11 for the short form)\n";
      ++rejected;
      continue;
    }
    Forward(driver, fields);
    ++forwarded;
  }
  if (rejected > 0) err << "vornlink: rejected " << rejected << " line(s) of " << file << "\n";
  ReportHandedOver(driver, forwarded, lines_before, out);
  return rejected == 0 ? kExitOk : kExitFailed;
}

int ValidateWithCallback(const DriverApi& api, const std::string& job_no, int wait_ms,
                         std::ostream& out) {
  CallbackAnswer& answer = Answer();
  {
    std::lock_guard<std::mutex> lock(answer.mutex);
    answer.done = false;
  }
  api.set_callback(&OnValidated);
  int32_t immediate = api.is_jobno_valid(job_no.c_str());
  out << "immediate " << immediate << "\n";
  std::unique_lock<std::mutex> lock(answer.mutex);
  bool arrived = answer.arrived.wait_for(lock, std::chrono::milliseconds(wait_ms),
                                         [&] { return answer.done; });
  api.set_callback(nullptr);
  if (!arrived) {
    out << "no callback within " << wait_ms << " ms\n";
    return kExitFailed;
  }
  out << "callback " << answer.result << " " << answer.job_no << "\n";
  return kExitOk;
}

bool NeedArgs(const std::vector<std::string>& words, size_t wanted, std::ostream& err) {
  if (words.size() - 1 == wanted) return true;
  err << "vornlink: " << words[0] << " takes " << wanted << " argument(s), not " << words.size() - 1
      << "\n";
  return false;
}

}  // namespace

constexpr char kForwardExit[] =
    "0 handed over (the gates may have dropped it: the log says), 1 the\n"
    "module cannot be loaded, 2 usage error, 3 the transaction is not in the\n"
    "cache (named whole on standard error)";

const CommandHelp kStartHelp = {
    "start", CommandGroup::kHost, "start", "start the service (ExecuteService)", "", nullptr,
    nullptr};

const CommandHelp kStopHelp = {
    "stop", CommandGroup::kHost, "stop", "stop the service (StopService)", "", nullptr, nullptr};

const CommandHelp kForwardHelp = {"forward",
                                  CommandGroup::kHost,
                                  "forward F1 ... F12",
                                  "forward one transaction (ForwardTransaction2):\n"
                                  "TransNo JobNo Date Time UserId Field04 Field05\n"
                                  "FluidKey FluidName FluidPartNo Quantity Field08",
                                  "",
                                  kForwardExit,
                                  nullptr};

const CommandHelp kForward11Help = {"forward11",
                                    CommandGroup::kHost,
                                    "forward11 F1 ... F11",
                                    "the short form (ForwardTransaction): the same\n"
                                    "fields without FluidPartNo",
                                    "",
                                    kForwardExit,
                                    nullptr};

const CommandHelp kForwardCsvHelp = {
    "forward-csv",
    CommandGroup::kHost,
    "forward-csv FILE",
    "one transaction per line of FILE, 12 (or 11)\n"
    "comma-separated fields; '#' starts a comment line",
    "",
    "0 every line forwarded, 1 a line rejected (named on standard error),\n"
    "FILE unreadable or the module cannot be loaded, 2 usage error, 3 a\n"
    "transaction is not in the cache (named whole on standard error)",
    nullptr};

const CommandHelp kValidateHelp = {"validate",
                                   CommandGroup::kHost,
                                   "validate JOBNO",
                                   "ask whether a job number is valid; prints 1 or 0",
                                   "",
                                   nullptr,
                                   nullptr};

const CommandHelp kValidateAsyncHelp = {
    "validate-async",
    CommandGroup::kHost,
    "validate-async JOBNO [MS]",
    "the same through a callback, waiting up to MS\n"
    "milliseconds (30000) for it",
    "",
    "0 the callback came (its result and job number are printed), 1 it did\n"
    "not come within MS or the module cannot be loaded, 2 usage error",
    nullptr};

const CommandHelp kNameHelp = {
    "name", CommandGroup::kHost, "name", "print the service name (GetServiceName)", "", nullptr,
    nullptr};

const CommandHelp kApiVersionHelp = {"api-version",
                                     CommandGroup::kHost,
                                     "api-version",
                                     "print the API version (GetAPIVersion)",
                                     "",
                                     nullptr,
                                     nullptr};

const CommandHelp kPropertiesHelp = {
    "properties", CommandGroup::kHost, "properties", "show the settings list dialog", "", nullptr,
    nullptr};

const CommandHelp kServerHelp = {
    "server", CommandGroup::kHost, "server", "show the emulated DMS server dialog", "", nullptr,
    nullptr};

const CommandHelp kSleepHelp = {"sleep",
                                CommandGroup::kHost,
                                "sleep MS",
                                "wait MS milliseconds (in a session: let the\n"
                                "service work)",
                                "",
                                nullptr,
                                nullptr};

int RunStart(const Driver& driver, const std::vector<std::string>&, std::ostream& out,
             std::ostream&) {
  out << "ExecuteService " << driver.api.execute_service() << "\n";
  driver.service_started = true;
  return kExitOk;
}

int RunStop(const Driver& driver, const std::vector<std::string>&, std::ostream& out,
            std::ostream&) {
  out << "StopService " << driver.api.stop_service() << "\n";
  return kExitOk;
}

int RunForward(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
               std::ostream& err) {
  if (!NeedArgs(words, words[0] == "forward" ? kForward2Fields : kForwardFields, err)) {
    return kExitUsage;
  }
  const long lines_before = CacheLineCount(driver);
  Forward(driver, std::vector<std::string>(words.begin() + 1, words.end()));
  ReportHandedOver(driver, 1, lines_before, out);
  return kExitOk;
}

int RunForwardCsv(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
                  std::ostream& err) {
  if (!NeedArgs(words, 1, err)) return kExitUsage;
  return ForwardCsv(driver, words[1], out, err);
}

int RunValidate(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
                std::ostream& err) {
  if (!NeedArgs(words, 1, err)) return kExitUsage;
  out << driver.api.is_jobno_valid(words[1].c_str()) << "\n";
  return kExitOk;
}

int RunValidateAsync(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
                     std::ostream& err) {
  if (words.size() != 2 && words.size() != 3) {
    err << "vornlink: validate-async takes JOBNO and optionally MS\n";
    return kExitUsage;
  }
  int wait_ms = kDefaultCallbackWaitMs;
  if (words.size() == 3 && !ParseMilliseconds(words[2], &wait_ms)) {
    err << "vornlink: validate-async: the wait must be a number of milliseconds, not " << words[2]
        << "\n";
    return kExitUsage;
  }
  return ValidateWithCallback(driver.api, words[1], wait_ms, out);
}

int RunName(const Driver& driver, const std::vector<std::string>&, std::ostream& out,
            std::ostream&) {
  const char* name = driver.api.get_service_name();
  out << (name != nullptr ? name : "") << "\n";
  return kExitOk;
}

int RunApiVersion(const Driver& driver, const std::vector<std::string>&, std::ostream& out,
                  std::ostream&) {
  out << driver.api.get_api_version() << "\n";
  return kExitOk;
}

int RunProperties(const Driver& driver, const std::vector<std::string>&, std::ostream& out,
                  std::ostream&) {
  out << "Properties " << driver.api.properties() << "\n";
  return kExitOk;
}

int RunServer(const Driver& driver, const std::vector<std::string>&, std::ostream&, std::ostream&) {
  driver.api.server();
  return kExitOk;
}

int RunSleep(const Driver&, const std::vector<std::string>& words, std::ostream&,
             std::ostream& err) {
  int wait_ms = 0;
  if (words.size() != 2 || !ParseMilliseconds(words[1], &wait_ms)) {
    err << "vornlink: sleep takes a number of milliseconds\n";
    return kExitUsage;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
  return kExitOk;
}

}  // namespace vornlink
