#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "platform/terminal.h"

namespace vornlink {
namespace {

std::atomic<int> g_request{0};  // an EndRequest
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler sets it");

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[4];  // of kEndSignals, then of SIGPIPE
sigset_t g_previous_mask;

sigset_t EndSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kEndSignals) sigaddset(&set, signal);
  return set;
}

void Note(int signal) {
  int none = static_cast<int>(EndRequest::kNone);
  g_request.compare_exchange_strong(
      none, static_cast<int>(signal == SIGHUP ? EndRequest::kHangUp : EndRequest::kInterrupt));
}

// For threads that had the signals open before the watch began. SIGPIPE
// comes to the thread whose write failed, which learns it from the write.
extern "C" void OnEndSignal(int signal) {
  if (signal != SIGPIPE) Note(signal);
}

// Takes the end signals that wait for the process.
void TakePending() {
  const sigset_t set = EndSignals();
  const timespec now{};
  for (int number; (number = sigtimedwait(&set, nullptr, &now)) > 0;) Note(number);
}

}  // namespace

bool StandardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

// The end signals are blocked in this thread and so in every thread it or
// the driver starts later: none of their waits (a transport's poll) is ever
// cut short by one. They wait for the process until requested() takes them.
EndRequestWatch::EndRequestWatch() {
  g_request = static_cast<int>(EndRequest::kNone);
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < 3; ++i) sigaction(kEndSignals[i], &action, &g_previous[i]);
  sigaction(SIGPIPE, &action, &g_previous[3]);
  const sigset_t set = EndSignals();
  pthread_sigmask(SIG_BLOCK, &set, &g_previous_mask);
}

EndRequestWatch::~EndRequestWatch() {
  TakePending();  // the stop they ask for is done
  pthread_sigmask(SIG_SETMASK, &g_previous_mask, nullptr);
  for (size_t i = 0; i < 3; ++i) sigaction(kEndSignals[i], &g_previous[i], nullptr);
  sigaction(SIGPIPE, &g_previous[3], nullptr);
}

EndRequest EndRequestWatch::requested() const {
  if (g_request.load() == static_cast<int>(EndRequest::kNone)) TakePending();
  return static_cast<EndRequest>(g_request.load());
}

uint32_t EndRequestWatch::HoldLeftMs() const { return 0; }

void EndRequestWatch::Release() {}

bool DeliverEndRequestForTesting(EndRequest request) {
  if (request == EndRequest::kInterrupt) kill(getpid(), SIGINT);
  if (request == EndRequest::kHangUp) kill(getpid(), SIGHUP);
  return false;
}

}  // namespace vornlink
