#include "transport/transport_test_support.h"

#include <atomic>
#include <fstream>
#include <random>
#include <utility>

namespace vornlink {
namespace testing {

TcpTestServer::TcpTestServer(Serve serve) : serve_(std::move(serve)) {
  if (!ListenTcp("127.0.0.1", 0, 8, &listener_).ok()) return;
  port_ = listener_->port();
  thread_ = std::thread([this] {
    while (!stop_.IsSet()) {
      std::unique_ptr<NetConnection> connection;
      if (listener_->Accept(WaitLimit::After(std::chrono::hours(1), &stop_), &connection).ok())
        serve_(*connection, stop_);
    }
  });
}

TcpTestServer::~TcpTestServer() {
  stop_.Set();
  if (thread_.joinable()) thread_.join();
}

Lines TcpTestServer::requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::string TcpTestServer::ReadRequest(NetConnection& connection) {
  std::string request;
  WaitLimit limit = WaitLimit::After(std::chrono::seconds(10), &stop_);
  char buffer[8192];
  size_t count = 0;
  while (request.find('\0') == std::string::npos &&
         connection.Receive(buffer, sizeof buffer, &count, limit).ok()) {
    request.append(buffer, count);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(request);
  return request;
}

namespace {

// A Linux path as the Windows build opens it under Wine.
std::string LocalPath(const std::string& path) {
#ifdef _WIN32
  if (!path.empty() && path[0] == '/') return "Z:" + path;
#endif
  return path;
}

HttpTestServers LoadServers() {
  HttpTestServers servers;
  std::string info_path = LocalPath(std::string(VORNLINK_TRANSPORT_SERVER_DIR) + "/servers.txt");
  std::ifstream info(info_path);
  for (std::string line; std::getline(info, line);) {
    size_t equals = line.find('=');
    if (equals != std::string::npos)
      servers.values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  servers.ok = servers.values.count("http") > 0;
  if (!servers.ok) servers.error = info_path + " lists no servers: did transport_servers run?";
  return servers;
}

}  // namespace

std::string HttpTestServers::Url(const std::string& name, const std::string& path) const {
  auto found = values.find(name);
  std::string port = found == values.end() ? "1" : found->second;
  return (name == "http" ? "http" : "https") + std::string("://127.0.0.1:") + port + path;
}

std::string HttpTestServers::File(const std::string& key) const {
  auto found = values.find(key);
  return found == values.end() ? std::string() : LocalPath(found->second);
}

Lines HttpTestServers::RecordedWith(const std::string& tag) const {
  Lines found;
  std::ifstream record(File("record"));
  for (std::string line; std::getline(record, line);) {
    if (line.find(tag) != std::string::npos) found.push_back(line);
  }
  return found;
}

const HttpTestServers& TestServers() {
  static const HttpTestServers servers = LoadServers();
  return servers;
}

std::string UniqueTag() {
  static std::atomic<unsigned> serial{0};
  static const unsigned run = std::random_device()();
  return "t" + std::to_string(run) + "x" + std::to_string(serial.fetch_add(1));
}

}  // namespace testing
}  // namespace vornlink
