// The floors: the least each measured operation must do, in plain system
// calls (POSIX), with no checks beyond those the result needs. Each returns
// false when a call failed, so that a benchmark never reports a floor that
// did not do its work.
#ifndef VORNLINK_BENCH_FLOORS_H_
#define VORNLINK_BENCH_FLOORS_H_

#include <cstdint>
#include <string>

namespace vornlink {
namespace bench {

// open, read to the end, close. `bytes` gets the count read.
bool ReadWholeFile(const std::string& path, size_t* bytes);

// A lock file held open, as the driver keeps the cache's lock file open.
class FloorLock {
 public:
  explicit FloorLock(const std::string& path);
  ~FloorLock();
  bool Lock();
  void Unlock();

 private:
  int fd_ = -1;
};

// Under `lock`: open O_APPEND, write `line`, fdatasync, close.
bool LockedDurableAppend(FloorLock* lock, const std::string& path, const std::string& line);

// Read `source` whole, write it to a new temporary file beside `target`,
// fdatasync, rename onto `target`.
bool CopyAndReplace(const std::string& source, const std::string& target);

// CopyAndReplace, then fsync of the folder, so that the rename itself is
// durable: what the driver must do for a removal to stay removed.
bool CopyAndReplaceDurably(const std::string& source, const std::string& target);

// open O_APPEND, write `entry`, close; open again, read the last byte, close.
bool AppendAndCheckLastByte(const std::string& path, const std::string& entry);

// A new TCP connection to 127.0.0.1:`port`: send `request`, read until a
// NUL byte or the peer's close, close.
bool TcpRoundTrip(uint16_t port, const std::string& request);

// One new libcurl request: POST `body` to `url`, read the reply.
bool CurlPost(const std::string& url, const std::string& body);

}  // namespace bench
}  // namespace vornlink

#endif  // VORNLINK_BENCH_FLOORS_H_
