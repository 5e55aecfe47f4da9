#include "driver/service.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "base/module_singleton.h"
#include "base/numbers.h"
#include "cache/cache_file.h"
#include "cache/unwritten_entries.h"
#include "cache/unwritten_queue.h"
#include "delivery/cache_worker.h"
#include "exchange/job_validation.h"
#include "log/log.h"
#include "platform/env.h"
#include "platform/process.h"
#include "settings/module_files.h"
#include "settings/read_setting.h"
#include "settings/version_text.h"

namespace vornlink {
namespace {

GateSetting GateOf(std::string text) {
  GateSetting gate;
  gate.on = LeadingInt(text) != 0;
  gate.text = std::move(text);
  return gate;
}

// A booking refused on purpose, named whole as the cache would have held it,
// so that a person can enter it again.
std::string RefusedTransaction(TransactionFields fields) {
  LookUpFluid(&fields);
  return " -> not cached: " + NamedTransaction(fields);
}

ModuleSingleton<Service> g_service;

// The shortest stop the process may ask for: time for the work to see it.
constexpr uint32_t kMinStopWaitMs = 100;

// How long the stop waits, and how long before that it cuts: kStopWaitMs
// and kStopCutBeforeMs, or a shorter wait that the process asks for (the
// system ends it soon), cut a quarter of it before its end.
std::pair<uint32_t, uint32_t> StopBound() {
  const int32_t asked = LeadingInt(ProcessEnvironmentValue(kStopWithinVariable));
  if (asked <= 0 || static_cast<uint32_t>(asked) >= kStopWaitMs) {
    return {kStopWaitMs, kStopCutBeforeMs};
  }
  const uint32_t wait_ms = std::max(static_cast<uint32_t>(asked), kMinStopWaitMs);
  return {wait_ms, std::min(kStopCutBeforeMs, wait_ms / 4)};
}

}  // namespace

namespace {

// The questions of the fluid's name and part number, after `queries`.
void AddFluidQueries(const TransactionFields& fields, std::vector<ProfileQuery>* queries) {
  queries->push_back({"FluidName", fields[kFluidKey], fields[kFluidName]});
  queries->push_back({"FluidPartNo", fields[kFluidKey], fields[kFluidPartNo]});
}

// The questions of the three gates, then (with `fields`) the fluid's two.
std::vector<ProfileQuery> ForwardQueries(const TransactionFields* fields) {
  std::vector<ProfileQuery> queries = {{"ForwardTransaction", "Enable", "1"},
                                       {"ForwardTransaction", "AllowZeroTransaction", "0"},
                                       {"ForwardTransaction", "Validation", "0"}};
  if (fields != nullptr) AddFluidQueries(*fields, &queries);
  return queries;
}

// The gates from the first three answers to ForwardQueries; moves them out.
ForwardGateSettings GatesOf(std::vector<std::string>* values) {
  return {GateOf(std::move((*values)[0])), GateOf(std::move((*values)[1])),
          GateOf(std::move((*values)[2]))};
}

}  // namespace

ForwardGateSettings ReadForwardGateSettings() {
  std::vector<std::string> values = ReadIniStrings(ForwardQueries(nullptr));
  return GatesOf(&values);
}

ForwardGateSettings ReadForwardGatesAndFluid(const TransactionFields& fields, FluidNames* fluid) {
  std::vector<std::string> values = ReadIniStrings(ForwardQueries(&fields));
  fluid->name = std::move(values[3]);
  fluid->part_no = std::move(values[4]);
  return GatesOf(&values);
}

void UseFluidNames(FluidNames fluid, TransactionFields* fields) {
  (*fields)[kFluidName] = std::move(fluid.name);
  (*fields)[kFluidPartNo] = std::move(fluid.part_no);
}

bool DropsAsZero(const ForwardGateSettings& gates, const std::string& quantity) {
  return !gates.allow_zero.on && LeadingDouble(quantity) == 0.0;
}

void LookUpFluid(TransactionFields* fields) {
  std::vector<ProfileQuery> queries;
  AddFluidQueries(*fields, &queries);
  std::vector<std::string> values = ReadIniStrings(queries);
  UseFluidNames({std::move(values[0]), std::move(values[1])}, fields);
}

LogSettings ReadLogSettings() {
  LogSettings settings;
  settings.file_name = ReadDriverSetting("KMR/Log/FileName");
  settings.max_lines_text = ReadDriverSetting("KMR/Log/MaxLines");
  settings.max_lines = LeadingInt(settings.max_lines_text);
  settings.flags = ReadDriverSetting("KMR/Log/Flags");
  return settings;
}

Service& Service::Instance() {
  return g_service.Get([] { return new Service(); });
}

void Service::ReleaseInstance() { g_service.Release(); }

int32_t Service::Execute() {
  callback_.store(nullptr);
  const LogSettings log = ReadLogSettings();
  LogInit(log.file_name, log.max_lines, log.flags);
  LogLoaded();
  WriteUnwrittenTransactions();

  {
    std::lock_guard<std::mutex> lock(worker_mutex_);
    if (worker_alive_ == nullptr || !worker_alive_->load()) {
      auto alive = std::make_shared<std::atomic<bool>>(true);
      if (threads_.Start("CacheWorker", [alive](const StopSignal& stop) {
            RunCacheWorker(stop);
            alive->store(false);
          })) {
        worker_alive_ = alive;
      } else {
        LogPrint('*', "ExecuteService: Internal t[the cache worker could not be started]");
      }
    }
  }
  StartGuiProgram();
  return 1;
}

int32_t Service::Stop() {
  const uint32_t started = GetEnv()->TickCount();
  const auto [wait_ms, cut_before_ms] = StopBound();
  LogPrint('.',
           "StopService: the driver's work is asked to end -> waited for up to %u ms; an "
           "exchange whose query went out has %u ms for its reply",
           static_cast<unsigned>(wait_ms), static_cast<unsigned>(wait_ms - cut_before_ms));
  const DriverThreads::Left left = threads_.StopGeneration(
      std::chrono::milliseconds(wait_ms), std::chrono::milliseconds(cut_before_ms));
  {
    std::lock_guard<std::mutex> lock(worker_mutex_);
    worker_alive_.reset();
  }
  if (left.cut) {
    LogPrint('.', "StopService: work still ran %u ms after the stop -> its waits were cut",
             static_cast<unsigned>(wait_ms - cut_before_ms));
  }
  if (left.threads > 0) {
    LogPrint('*',
             "StopService: t[a thread of the driver did not end within %u ms] -> it writes "
             "nothing more; the module stays loaded",
             static_cast<unsigned>(wait_ms));
  }
  if (left.calls > 0) {
    LogPrint('*',
             "StopService: t[%d call(s) of the host did not end within %u ms] -> the module "
             "stays loaded",
             left.calls, static_cast<unsigned>(wait_ms));
  }
  if (left.calls_ended > 0) {
    LogPrint('.',
             "StopService: %d call(s) of the host ended with the stop -> the module stays loaded, "
             "as their threads may still be returning through it",
             left.calls_ended);
  }
  if (left.unstoppable > 0) {
    LogPrint('*', "StopService: t[a dialog of the driver is open] -> the module stays loaded");
  }
  if (left.writing) {
    LogPrint('*',
             "StopService: t[a write of a thread of the driver was still under way (it may wait "
             "for another process's cache lock)] -> it may still finish");
  }
  // Within the stop's bound: what the wait for the work left of it.
  const uint32_t spent = GetEnv()->TickCount() - started;
  RestateUnwrittenTransactions("the stop", spent < wait_ms ? wait_ms - spent : 0);
  LogUnloaded();
  return 0;
}

void Service::ForwardTransaction(TransactionFields fields, const StopSignal& stop) {
  WriteUnwrittenTransactions();
  const std::string& trans_no = fields[kTransNo];
  const std::string& job_no = fields[kJobNo];
  // The host's texts go into one-line entries: a line break in them must
  // not start an entry of its own.
  const std::string logged_trans_no = OneLine(trans_no);
  const std::string logged_job_no = OneLine(job_no);
  // The gates and the fluid's names from one look at the INI file; the
  // names go into the transaction once the gates let it through.
  FluidNames fluid;
  const ForwardGateSettings gates = ReadForwardGatesAndFluid(fields, &fluid);
  if (!gates.enable.on) {
    LogPrint('*', "ForwardTransaction TransNo[%s] JobNo[%s] t[Forward Transaction Not Enabled]",
             logged_trans_no.c_str(), logged_job_no.c_str());
    return;
  }
  if (DropsAsZero(gates, fields[kQuantity])) {
    LogPrint('i', "ForwardTransaction TransNo[%s] JobNo[%s] t[Removing NULL Transaction]",
             logged_trans_no.c_str(), logged_job_no.c_str());
    return;
  }
  if (gates.validation.on) {
    std::string why;
    switch (ValidateJob(job_no, &stop, &why)) {
      case JobVerdict::kValid:
        break;
      case JobVerdict::kNotValid:
        LogWriteLine('i', "ForwardTransaction TransNo[" + logged_trans_no + "] JobNo[" +
                              logged_job_no + "] t[Error while double checking jobno]" +
                              RefusedTransaction(fields));
        return;
      case JobVerdict::kNotSplit:
        // No DMS knows a job number of another shape, and the worker would
        // fail the same split: refused as a job the DMS does not know.
        LogWriteLine('*', "ForwardTransaction TransNo[" + logged_trans_no + "] JobNo[" +
                              logged_job_no + "] t[Error while double checking jobno] " +
                              OneLine(why) + RefusedTransaction(fields));
        return;
      case JobVerdict::kNoVerdict:
        // Without an answer of the DMS a booking is not thrown away: it
        // waits in the cache like any other.
        LogPrint('*',
                 "ForwardTransaction TransNo[%s] JobNo[%s] t[Job number could not be checked "
                 "with the DMS] -> cached",
                 logged_trans_no.c_str(), logged_job_no.c_str());
        break;
    }
  }
  UseFluidNames(std::move(fluid), &fields);
  AddTransactionInOrder(fields);
}

int32_t Service::IsJobnoValid(const std::string& job_no, const StopSignal& stop) {
  WriteUnwrittenTransactions();
  if (callback_.load() == nullptr) return ValidateJob(job_no, &stop) == JobVerdict::kValid ? 1 : 0;
  bool started = threads_.Start("IsJobnoValid", [this, copy = job_no](const StopSignal& stop) {
    if (callback_.load() == nullptr) return;  // cleared before the thread ran
    JobVerdict verdict = ValidateJob(copy, &stop);
    if (verdict == JobVerdict::kNoVerdict && stop.IsSet()) return;  // cut short by the stop
    // Read again: the exchange may have taken minutes, and the host may
    // have cleared the callback meanwhile.
    KmrValidationCallback callback = callback_.load();
    if (callback != nullptr) callback(verdict == JobVerdict::kValid ? 1 : 0, copy.c_str());
  });
  if (!started) {
    // The host has been told 0 all the same; no answer follows.
    LogPrint('*',
             "IsJobnoValid: Internal t[the validation could not be started] JobNo[%s] -> "
             "no callback follows",
             OneLine(job_no).c_str());
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
