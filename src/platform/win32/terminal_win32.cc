#include <windows.h>

#include <atomic>

#include "platform/terminal.h"

namespace vornlink {
namespace {

std::atomic<int> g_request{0};  // an EndRequest
std::atomic<DWORD> g_close_tick{0};

// Set by Release; lives as long as the process, as a handler may wait on it.
HANDLE ReleaseEvent() {
  static const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return event;
}

// True when a close was released before its hold ran out.
bool HandleEvent(DWORD type, bool* handled) {
  *handled = true;
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: {
      int none = static_cast<int>(EndRequest::kNone);
      g_request.compare_exchange_strong(none, static_cast<int>(EndRequest::kInterrupt));
      return false;
    }
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The system ends the process as soon as this returns: hold it while
      // the program stops in order. A close after an interrupt shortens
      // whatever of the stop has not begun.
      g_close_tick = GetTickCount();
      g_request = static_cast<int>(EndRequest::kClose);
      return WaitForSingleObject(ReleaseEvent(), kCloseHoldMs) == WAIT_OBJECT_0;
    default:
      *handled = false;
      return false;
  }
}

BOOL WINAPI OnConsoleEvent(DWORD type) {
  bool handled = false;
  HandleEvent(type, &handled);
  return handled ? TRUE : FALSE;
}

}  // namespace

bool StandardOutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool StandardInputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

EndRequestWatch::EndRequestWatch() {
  g_request = static_cast<int>(EndRequest::kNone);
  ResetEvent(ReleaseEvent());
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

EndRequestWatch::~EndRequestWatch() {
  Release();
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

EndRequest EndRequestWatch::requested() const { return static_cast<EndRequest>(g_request.load()); }

uint32_t EndRequestWatch::HoldLeftMs() const {
  if (requested() != EndRequest::kClose) return 0;
  const DWORD held = GetTickCount() - g_close_tick.load();
  return held < kCloseHoldMs ? kCloseHoldMs - held : 0;
}

void EndRequestWatch::Release() { SetEvent(ReleaseEvent()); }

bool DeliverEndRequestForTesting(EndRequest request) {
  bool handled = false;
  if (request == EndRequest::kInterrupt) return HandleEvent(CTRL_C_EVENT, &handled);
  if (request == EndRequest::kClose) return HandleEvent(CTRL_CLOSE_EVENT, &handled);
  return false;
}

}  // namespace vornlink
