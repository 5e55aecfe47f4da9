#include "driver/service.h"

#include <cstdio>
#include <system_error>

#include "cache/cache_file.h"
#include "exchange/job_validation.h"
#include "log/log.h"
#include "settings/module_files.h"
#include "settings/numbers.h"
#include "settings/read_setting.h"
#include "settings/version_text.h"

namespace vornlink {
namespace {

int32_t IniInt(const char* section, const char* key, const char* default_value) {
  return LeadingInt(ReadIniString(section, key, default_value));
}

void StartGuiProgram() { GetEnv()->StartProgram(kGuiProgram, ModuleBaseName()); }

}  // namespace

Service& Service::Instance() {
  // Never destroyed: validation threads and the worker may outlive the
  // static destructors of an unloading module.
  static Service* service = new Service();
  return *service;
}

int32_t Service::Execute() {
  callback_.store(nullptr);
  std::string file_name = ReadDriverSetting("KMR/Log/FileName");
  int32_t max_lines = LeadingInt(ReadDriverSetting("KMR/Log/MaxLines"));
  std::string flags = ReadDriverSetting("KMR/Log/Flags");
  LogInit(file_name, max_lines, flags);
  LogLoaded();

  if (worker_procedure_ && !worker_running_.exchange(true)) {
    try {
      std::thread([this] {
        worker_procedure_(&stop_event_, &worker_ended_event_);
        worker_running_.store(false);
      }).detach();
    } catch (const std::system_error&) {
      worker_running_.store(false);  // the service runs on without a worker
    }
  }
  StartGuiProgram();
  return 1;
}

int32_t Service::Stop() {
  stop_event_.Set();
  if (worker_running_.load()) worker_ended_event_.Wait(kWorkerStopWaitMs);
  LogUnloaded();
  return 0;
}

void Service::ForwardTransaction(TransactionFields fields) {
  const std::string& trans_no = fields[kTransNo];
  const std::string& job_no = fields[kJobNo];
  // The host's texts go into one-line entries: a line break in them must
  // not start an entry of its own.
  const std::string logged_trans_no = OneLine(trans_no);
  const std::string logged_job_no = OneLine(job_no);
  if (IniInt("ForwardTransaction", "Enable", "1") == 0) {
    LogPrint('*', "ForwardTransaction TransNo[%s] JobNo[%s] t[Forward Transaction Not Enabled]",
             logged_trans_no.c_str(), logged_job_no.c_str());
    return;
  }
  if (IniInt("ForwardTransaction", "AllowZeroTransaction", "0") == 0 &&
      LeadingDouble(fields[kQuantity]) == 0.0) {
    LogPrint('i', "ForwardTransaction TransNo[%s] JobNo[%s] t[Removing NULL Transaction]",
             logged_trans_no.c_str(), logged_job_no.c_str());
    return;
  }
  if (IniInt("ForwardTransaction", "Validation", "0") != 0 && JobValidationExchange(job_no) == 0) {
    LogPrint('i', "ForwardTransaction TransNo[%s] JobNo[%s] t[Error while double checking jobno]",
             logged_trans_no.c_str(), logged_job_no.c_str());
    return;
  }
  const std::string& fluid_key = fields[kFluidKey];
  fields[kFluidName] = ReadIniString("FluidName", fluid_key, fields[kFluidName]);
  fields[kFluidPartNo] = ReadIniString("FluidPartNo", fluid_key, fields[kFluidPartNo]);
  AddTransaction(fields, "0", "0", std::string());
}

int32_t Service::IsJobnoValid(const std::string& job_no) {
  if (callback_.load() == nullptr) return JobValidationExchange(job_no);
  try {
    std::thread([this, copy = job_no] {
      KmrValidationCallback callback = callback_.load();
      if (callback == nullptr) return;  // cleared before the thread ran
      int32_t result = JobValidationExchange(copy);
      callback(result, copy.c_str());
    }).detach();
  } catch (const std::system_error&) {
    // No thread, no answer: the host has already been told 0.
  }
  return 0;
}

const char* Service::ServiceName() {
  const std::string name = "Plexa KMR v[" + VersionText() + "]";
  // Each distinct text is kept for good: a pointer handed out stays valid
  // and unchanged whatever other threads ask meanwhile. The version only
  // changes when the module's file does, so the set stays tiny.
  std::lock_guard<std::mutex> lock(service_names_mutex_);
  return service_names_.insert(name).first->c_str();
}

}  // namespace vornlink
