#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>

#include "platform/posix/file_calls.h"

namespace vornlink {
namespace {

// open is variadic; the table's entry always passes the mode.
int OpenWithMode(const char* path, int flags, mode_t mode) { return open(path, flags, mode); }

const FileCallTable kSystemCalls = {&OpenWithMode, &write,           &pwrite,
                                    &ftruncate,    &posix_fallocate, &fsync,
                                    &fdatasync,    &rename,          &unlinkat};

std::atomic<const FileCallTable*> g_calls{&kSystemCalls};

}  // namespace

const FileCallTable& SystemFileCalls() { return kSystemCalls; }

const FileCallTable& FileCalls() { return *g_calls.load(std::memory_order_acquire); }

void SetFileCallsForTesting(const FileCallTable* table) {
  g_calls.store(table != nullptr ? table : &kSystemCalls, std::memory_order_release);
}

}  // namespace vornlink
