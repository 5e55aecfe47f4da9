#include "vornlink/commands.h"

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iostream>
#include <mutex>

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

void Forward(const DriverApi& api, const std::vector<std::string>& f) {
  if (f.size() == kForward2Fields) {
    api.forward_transaction2(Arg(f, 0), Arg(f, 1), Arg(f, 2), Arg(f, 3), Arg(f, 4), Arg(f, 5),
                             Arg(f, 6), Arg(f, 7), Arg(f, 8), Arg(f, 9), Arg(f, 10), Arg(f, 11));
  } else {
    api.forward_transaction(Arg(f, 0), Arg(f, 1), Arg(f, 2), Arg(f, 3), Arg(f, 4), Arg(f, 5),
                            Arg(f, 6), Arg(f, 7), Arg(f, 8), Arg(f, 9), Arg(f, 10));
  }
}

int ForwardCsv(const DriverApi& api, const std::string& file, std::ostream& out,
               std::ostream& err) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    err << "vornlink: cannot read " << file << "\n";
    return kExitFailed;
  }
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
    Forward(api, fields);
    ++forwarded;
  }
  out << "forwarded " << forwarded << " transaction(s)";
  if (rejected > 0) out << ", rejected " << rejected << " line(s)";
  out << "\n";
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

int Session(const DriverApi& api, std::istream& in, std::ostream& out, std::ostream& err) {
  int status = kExitOk;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> words = SplitWords(line);
    if (words.empty() || words[0][0] == '#') continue;
    if (words[0] == "session") {
      err << "vornlink: a session cannot hold another session\n";
      status = kExitFailed;
      continue;
    }
    int result = RunCommand(api, words, out, err);
    if (result != kExitOk) status = result;
  }
  return status;
}

bool NeedArgs(const std::vector<std::string>& words, size_t wanted, std::ostream& err) {
  if (words.size() - 1 == wanted) return true;
  err << "vornlink: " << words[0] << " takes " << wanted << " argument(s), not " << words.size() - 1
      << "\n";
  return false;
}

}  // namespace

std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word.push_back(c);
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

std::vector<std::string> SplitCsv(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t comma = line.find(',', start);
    fields.push_back(line.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

void PrintUsage(std::ostream& out) {
  out << "usage: vornlink [--module PATH] COMMAND [ARGUMENTS]\n"
         "\n"
         "Loads the driver module as a host does and drives it. The module is PATH,\n"
         "else $VORNLINK_MODULE, else the module beside this program.\n"
         "\n"
         "commands:\n"
         "  start                    start the service (ExecuteService)\n"
         "  stop                     stop the service (StopService)\n"
         "  forward F1 ... F12       forward one transaction (ForwardTransaction2):\n"
         "                           TransNo JobNo Date Time UserId Field04 Field05\n"
         "                           FluidKey FluidName FluidPartNo Quantity Field08\n"
         "  forward11 F1 ... F11     the short form (ForwardTransaction)\n"
         "  forward-csv FILE         one transaction per line of FILE, 12 (or 11)\n"
         "                           comma-separated fields; '#' starts a comment line\n"
         "  validate JOBNO           ask whether a job number is valid; prints 1 or 0\n"
         "  validate-async JOBNO [MS]  the same through a callback, waiting up to MS\n"
         "                           milliseconds (30000) for it\n"
         "  name                     print the service name (GetServiceName)\n"
         "  api-version              print the API version (GetAPIVersion)\n"
         "  properties               show the settings list dialog\n"
         "  server                   show the emulated DMS server dialog\n"
         "  session [FILE]           run one command per line of FILE (or standard\n"
         "                           input) against the same loaded module\n";
}

int RunCommand(const DriverApi& api, const std::vector<std::string>& words, std::ostream& out,
               std::ostream& err) {
  const std::string& command = words[0];
  if (command == "start") {
    out << "ExecuteService " << api.execute_service() << "\n";
  } else if (command == "stop") {
    out << "StopService " << api.stop_service() << "\n";
  } else if (command == "forward") {
    if (!NeedArgs(words, kForward2Fields, err)) return kExitUsage;
    Forward(api, std::vector<std::string>(words.begin() + 1, words.end()));
  } else if (command == "forward11") {
    if (!NeedArgs(words, kForwardFields, err)) return kExitUsage;
    Forward(api, std::vector<std::string>(words.begin() + 1, words.end()));
  } else if (command == "forward-csv") {
    if (!NeedArgs(words, 1, err)) return kExitUsage;
    return ForwardCsv(api, words[1], out, err);
  } else if (command == "validate") {
    if (!NeedArgs(words, 1, err)) return kExitUsage;
    out << api.is_jobno_valid(words[1].c_str()) << "\n";
  } else if (command == "validate-async") {
    if (words.size() != 2 && words.size() != 3) {
      err << "vornlink: validate-async takes JOBNO and optionally MS\n";
      return kExitUsage;
    }
    int wait_ms = words.size() == 3 ? std::atoi(words[2].c_str()) : kDefaultCallbackWaitMs;
    return ValidateWithCallback(api, words[1], wait_ms, out);
  } else if (command == "name") {
    const char* name = api.get_service_name();
    out << (name != nullptr ? name : "") << "\n";
  } else if (command == "api-version") {
    out << api.get_api_version() << "\n";
  } else if (command == "properties") {
    out << "Properties " << api.properties() << "\n";
  } else if (command == "server") {
    api.server();
  } else if (command == "session") {
    if (words.size() == 1) return Session(api, std::cin, out, err);
    std::ifstream in(words[1], std::ios::binary);
    if (!in) {
      err << "vornlink: cannot read " << words[1] << "\n";
      return kExitFailed;
    }
    return Session(api, in, out, err);
  } else {
    err << "vornlink: unknown command " << command << "\n";
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace vornlink
