// The resident memory a host gains by loading the driver and starting its
// service, printed as one JSON object:
//   module_footprint <module file>
// The module is copied into a fresh folder beside its settings and an empty
// cache, loaded by path as a host loads it, started, and stopped again.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "testing/test_env.h"
#include "vornlink/base/driver_api.h"

namespace {

// This process's resident set, in KiB, from /proc.
long ResidentKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "VmRSS:") == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <module file>\n", argv[0]);
    return 2;
  }
  vornlink::testing::TempDir dir;
  const std::string module = dir.File("Vornlink.so");
  std::filesystem::copy_file(argv[1], module);
  vornlink::testing::WriteBytes(dir.File("Vornlink.ini"), "[CacheThread]\nRetryTime=86400\n");
  vornlink::testing::WriteBytes(
      dir.File("Vornlink.xml"),
      "<KMR>\n  <Log>\n    <FileName>" + dir.File("Vornlink.log") +
          "</FileName>\n    <MaxLines>10000</MaxLines>\n    <Flags></Flags>\n  </Log>\n</KMR>\n");

  const long before = ResidentKib();
  vornlink::DriverApi api;
  std::string error;
  std::unique_ptr<vornlink::LoadedModule> loaded = vornlink::LoadDriver(module, &api, &error);
  if (loaded == nullptr) {
    std::fprintf(stderr, "module_footprint: %s\n", error.c_str());
    return 1;
  }
  const long after_load = ResidentKib();
  api.execute_service();
  // The worker thread and the GUI program's start settle.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const long after_start = ResidentKib();
  api.stop_service();
  loaded.reset();
  std::printf(
      "{\"rss_before_kib\": %ld, \"rss_loaded_kib\": %ld, \"rss_started_kib\": %ld, "
      "\"gain_load_kib\": %ld, \"gain_load_and_start_kib\": %ld}\n",
      before, after_load, after_start, after_load - before, after_start - before);
  return 0;
}
