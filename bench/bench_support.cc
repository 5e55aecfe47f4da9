#include "bench_support.h"

#include <algorithm>
#include <cstdio>

#include "dms_fixture.h"

namespace vornlink {
namespace bench {

double MedianOf(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                   values.end());
  double upper = values[middle];
  if (values.size() % 2 != 0) return upper;
  double lower =
      *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
  return (lower + upper) / 2.0;
}

void WriteSettledSettings(const std::string& path, const std::string& text) {
  testing::WriteBytes(path, text);
  testing::Eventually([&path] {
    std::string nothing;
    FileStamp stamp;
    return DefaultEnv()->ReadFileBytes(path, 0, 0, &nothing, &stamp, nullptr) != ReadResult::kOk ||
           stamp.settled;
  });
}

double Series::Median(const std::string& name) const {
  auto found = samples_.find(name);
  return found == samples_.end() ? 0.0 : MedianOf(found->second);
}

void Series::Report(benchmark::State& state, const std::vector<std::string>& floors) const {
  for (const auto& [name, values] : samples_) state.counters[name + "_us"] = MedianOf(values);
  const double op = Median("op");
  for (const std::string& floor : floors) {
    const double value = Median(floor);
    state.counters["x_" + floor] = value > 0.0 ? op / value : 0.0;
  }
}

TransactionFields SampleTransaction(int n) {
  return {std::to_string(100000 + n),
          "123456.02",
          "140307",
          "090502",
          "17",
          "Workshop bay 4 left lift",
          "5",
          "K9",
          "Automatic transmission fluid synthetic low viscosity",
          "P-100-2000-ATF-SYN",
          "1.5",
          "2.25"};
}

std::string CacheLineFor(int n, const std::string& status) {
  std::string line;
  for (const std::string& field : SampleTransaction(n)) {
    line += field + ",";
  }
  char trid[32];
  std::snprintf(trid, sizeof trid, "2014030709%02d%02d0%03d", n / 60000 % 60, n / 1000 % 60,
                n % 1000);
  return line + status + "," + trid + ",0,";
}

std::string CacheLines(int count, const std::string& status) {
  std::string text;
  text.reserve(static_cast<size_t>(count) * 200);
  for (int i = 0; i < count; ++i) text += CacheLineFor(i, status) + "\n";
  return text;
}

DriverFolder::DriverFolder() {
  env_.set_module_path(ModuleFile());
  SetEnvForTesting(&env_);
}

DriverFolder::~DriverFolder() { SetEnvForTesting(nullptr); }

std::string GatesIni(int retry_seconds) {
  return "[ForwardTransaction]\nEnable=1\nAllowZeroTransaction=0\nValidation=0\n"
         "[FluidName]\nK9=Automatic transmission fluid synthetic\n"
         "[FluidPartNo]\nK9=P-100-2000-ATF-SYN\n"
         "[CacheThread]\nRetryTime=" +
         std::to_string(retry_seconds) + "\n";
}

std::string LoopbackSettings(const std::string& tcp_port, const std::string& url,
                             const std::string& log_file) {
  testing::DmsSetup setup;
  if (url.empty()) {
    setup.port = tcp_port;
  } else {
    setup.transport = "HTTP";
    setup.url = url;
  }
  std::string xml = testing::SettingsDocument(setup);
  // The log a site has: its file and MaxLines, no detail flags.
  xml.insert(xml.find('\n') + 1, "  <Log>\n    <FileName>" + log_file +
                                     "</FileName>\n    <MaxLines>10000</MaxLines>\n"
                                     "    <Flags></Flags>\n  </Log>\n");
  return xml;
}

}  // namespace bench
}  // namespace vornlink
