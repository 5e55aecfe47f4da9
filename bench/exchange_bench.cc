// One forward-transaction exchange against a DMS on loopback that answers
// at once, over TCP and over HTTP.
#include <cstdlib>
#include <memory>
#include <string>

#include "bench_support.h"
#include "dms_fixture.h"
#include "exchange/forward_transaction.h"
#include "floors.h"
#include "log/log.h"
#include "log/log_test_hooks.h"
#include "settings/read_setting.h"

namespace vornlink {
namespace bench {
namespace {

constexpr int kExchanges = 300;

const std::string& SuccessReply() {
  static const std::string reply = testing::ForwardReply("success", "booked");
  return reply;
}

// An HTTP DMS: one request per connection, answered 200 with the reply.
class HttpDms {
 public:
  HttpDms()
      : server_([this](NetConnection& connection, const StopSignal& stop) {
          Serve(connection, stop);
        }) {}

  std::string Url() const { return "http://127.0.0.1:" + server_.port_text() + "/dms"; }
  std::string last_body() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_body_;
  }

 private:
  void Serve(NetConnection& connection, const StopSignal& stop) {
    const WaitLimit limit = WaitLimit::After(std::chrono::seconds(10), &stop);
    std::string request;
    char buffer[8192];
    size_t header_end = std::string::npos;
    size_t wanted = 0;
    for (;;) {
      if (header_end == std::string::npos) {
        header_end = request.find("\r\n\r\n");
        if (header_end != std::string::npos) {
          header_end += 4;
          size_t length = request.find("Content-Length:");
          if (length == std::string::npos) length = request.find("content-length:");
          wanted = length == std::string::npos
                       ? 0
                       : static_cast<size_t>(std::atol(request.c_str() + length + 15));
        }
      }
      if (header_end != std::string::npos && request.size() >= header_end + wanted) break;
      size_t got = 0;
      if (!connection.Receive(buffer, sizeof buffer, &got, limit).ok()) return;
      request.append(buffer, got);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      last_body_ = request.substr(header_end, wanted);
    }
    const std::string& body = SuccessReply();
    connection.SendAll(
        "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n"
        "Content-Length: " +
            std::to_string(body.size()) + "\r\n\r\n" + body,
        limit);
  }

  std::mutex mutex_;
  std::string last_body_;
  testing::TcpTestServer server_;
};

// The eight reads of the settings document one exchange needs.
bool ReadSettingsEightTimes(const std::string& path) {
  size_t bytes = 0;
  for (int i = 0; i < 8; ++i) {
    if (!ReadWholeFile(path, &bytes)) return false;
  }
  return true;
}

// Runs the exchange beside `floor` (which sends the same bytes), in turns.
template <typename Floor>
void RunExchanges(benchmark::State& state, DriverFolder& folder, Floor floor) {
  ResetLogForTesting();
  LogInit(folder.Sibling("log"), 10000, "");
  const TransactionFields fields = SampleTransaction(1);
  Series series;
  bool ok = true;
  int n = 0;
  auto exchange = [&] {
    std::string failure;
    ok = ForwardTransactionExchange(fields, &failure, nullptr) == ForwardOutcome::kSuccess && ok;
  };
  // What one exchange asks of the disk: whole-file reads (settings
  // documents, INI files) and log entries.
  folder.env().reads = 0;
  folder.env().appends = 0;
  exchange();
  state.counters["file_reads"] = folder.env().reads.load();
  state.counters["log_entries"] = folder.env().appends.load();
  for (auto _ : state) {
    if (++n % 2 == 0) {
      TimeOp(state, &series, exchange);
      series.Add("floor", TimeUs([&] { ok = floor() && ok; }));
    } else {
      series.Add("floor", TimeUs([&] { ok = floor() && ok; }));
      TimeOp(state, &series, exchange);
    }
  }
  ResetLogForTesting();
  if (!ok) state.SkipWithError("an exchange or a floor failed");
  series.Report(state, {"floor"});
}

void BM_ExchangeTcp(benchmark::State& state) {
  testing::ScriptedDms dms([](const std::string&) { return SuccessReply(); });
  DriverFolder folder;
  const std::string settings = folder.Sibling("xml");
  WriteSettledSettings(settings, LoopbackSettings(dms.port_text(), "", folder.Sibling("log")));
  std::string failure;
  // One exchange first, for the bytes the floor sends.
  if (ForwardTransactionExchange(SampleTransaction(1), &failure, nullptr) !=
      ForwardOutcome::kSuccess) {
    state.SkipWithError(("no exchange with the DMS: " + failure).c_str());
    return;
  }
  const std::string request = dms.requests().back();
  const uint16_t port = static_cast<uint16_t>(std::stoi(dms.port_text()));
  RunExchanges(state, folder,
               [&] { return ReadSettingsEightTimes(settings) && TcpRoundTrip(port, request); });
}

void BM_ExchangeHttp(benchmark::State& state) {
  HttpDms dms;
  DriverFolder folder;
  const std::string settings = folder.Sibling("xml");
  WriteSettledSettings(settings, LoopbackSettings("", dms.Url(), folder.Sibling("log")));
  std::string failure;
  if (ForwardTransactionExchange(SampleTransaction(1), &failure, nullptr) !=
      ForwardOutcome::kSuccess) {
    state.SkipWithError(("no exchange with the DMS: " + failure).c_str());
    return;
  }
  const std::string body = dms.last_body();
  const std::string url = dms.Url();
  RunExchanges(state, folder,
               [&] { return ReadSettingsEightTimes(settings) && CurlPost(url, body); });
}

// What bounds the exchanges: the settings values one exchange reads, each
// by reading the document afresh and finding the value by its line rule,
// beside the same eight reads of the file alone.
void BM_ExchangeSettingsReads(benchmark::State& state) {
  DriverFolder folder;
  const std::string settings = folder.Sibling("xml");
  WriteSettledSettings(settings, LoopbackSettings("4711", "", folder.Sibling("log")));
  static const char* const kPaths[] = {"KMR/System/WoSplit",
                                       "KMR/UserID/E17",
                                       "KMR/Setup",
                                       "KMR/ForwardTransactionQuery",
                                       "KMR/ForwardTransactionResult/Result",
                                       "KMR/ForwardTransactionResult/Description",
                                       "KMR/ForwardTransactionResult/SuccessResult",
                                       "KMR/ForwardTransactionResult/RetryResult"};
  Series series;
  bool ok = true;
  for (auto _ : state) {
    TimeOp(state, &series, [&] {
      for (const char* path : kPaths) benchmark::DoNotOptimize(ReadDriverSetting(path));
    });
    series.Add("floor", TimeUs([&] { ok = ReadSettingsEightTimes(settings) && ok; }));
  }
  if (!ok) state.SkipWithError("the floor failed");
  series.Report(state, {"floor"});
}

BENCHMARK(BM_ExchangeSettingsReads)
    ->Iterations(kExchanges)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExchangeTcp)->Iterations(kExchanges)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExchangeHttp)->Iterations(kExchanges)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace bench
}  // namespace vornlink
