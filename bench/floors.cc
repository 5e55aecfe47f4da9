#include "floors.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace vornlink {
namespace bench {
namespace {

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t done = write(fd, data, size);
    if (done <= 0) return false;
    data += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

bool SetLock(int fd, short type) {
  struct flock whole {};
  whole.l_type = type;
  whole.l_whence = SEEK_SET;
  return fcntl(fd, type == F_UNLCK ? F_OFD_SETLK : F_OFD_SETLKW, &whole) == 0;
}

size_t IgnoreReply(char* /*data*/, size_t size, size_t count, void* /*user*/) {
  return size * count;
}

}  // namespace

bool ReadWholeFile(const std::string& path, size_t* bytes) {
  *bytes = 0;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  static thread_local char buffer[1 << 16];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) *bytes += static_cast<size_t>(got);
  return close(fd) == 0 && got == 0;
}

FloorLock::FloorLock(const std::string& path)
    : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {}

FloorLock::~FloorLock() {
  if (fd_ >= 0) close(fd_);
}

bool FloorLock::Lock() { return fd_ >= 0 && SetLock(fd_, F_WRLCK); }

void FloorLock::Unlock() { SetLock(fd_, F_UNLCK); }

bool LockedDurableAppend(FloorLock* lock, const std::string& path, const std::string& line) {
  if (!lock->Lock()) return false;
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  bool ok = fd >= 0 && WriteAll(fd, line.data(), line.size()) && fdatasync(fd) == 0;
  if (fd >= 0) ok = close(fd) == 0 && ok;
  lock->Unlock();
  return ok;
}

bool CopyAndReplace(const std::string& source, const std::string& target) {
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  std::string text;
  char buffer[1 << 16];
  ssize_t got;
  while ((got = read(in, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  close(in);
  if (got != 0) return false;
  const std::string temp = target + ".floor.tmp";
  int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) return false;
  bool ok = WriteAll(out, text.data(), text.size()) && fdatasync(out) == 0;
  ok = close(out) == 0 && ok;
  return ok && rename(temp.c_str(), target.c_str()) == 0;
}

bool CopyAndReplaceDurably(const std::string& source, const std::string& target) {
  if (!CopyAndReplace(source, target)) return false;
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0;
  return close(fd) == 0 && ok;
}

bool AppendAndCheckLastByte(const std::string& path, const std::string& entry) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, entry.data(), entry.size());
  ok = close(fd) == 0 && ok;
  fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char last = 0;
  off_t end = lseek(fd, 0, SEEK_END);
  ok = end > 0 && pread(fd, &last, 1, end - 1) == 1 && ok;
  return close(fd) == 0 && ok && last == '\n';
}

bool TcpRoundTrip(uint16_t port, const std::string& request) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            WriteAll(fd, request.data(), request.size());
  char buffer[8192];
  bool ended = false;
  while (ok && !ended) {
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    ended = std::memchr(buffer, '\0', static_cast<size_t>(got)) != nullptr;
  }
  return close(fd) == 0 && ok && ended;
}

bool CurlPost(const std::string& url, const std::string& body) {
  CURL* easy = curl_easy_init();
  if (easy == nullptr) return false;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, IgnoreReply);
  long status = 0;
  bool ok = curl_easy_perform(easy) == CURLE_OK &&
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
  curl_easy_cleanup(easy);
  return ok;
}

}  // namespace bench
}  // namespace vornlink
