#include "platform/http_client.h"

namespace vornlink {
namespace {

thread_local HttpWireTap* g_tap = nullptr;

}  // namespace

ScopedHttpWireTap::ScopedHttpWireTap(HttpWireTap* tap) : before_(g_tap) { g_tap = tap; }

ScopedHttpWireTap::~ScopedHttpWireTap() { g_tap = before_; }

HttpWireTap* CurrentHttpWireTap() { return g_tap; }

}  // namespace vornlink
