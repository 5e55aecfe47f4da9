// The emulated DMS dialog: template 1000. A thread of the dialog serves the
// listening socket (engine in emulated_dms/dms_server.h) and hands each request to
// the dialog as message 1124 (WM_USER + 100), posted once, which the dialog
// answers on its own thread: it counts the request, shows it and gives the
// reply box's text as the reply. Closing the dialog stops that thread, which drops a
// pending connection at once, and closes the listening socket, so that the
// dialog can be opened again in the same process.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "emulated_dms/dms_port.h"
#include "emulated_dms/dms_replies.h"
#include "emulated_dms/dms_server.h"
#include "log/log.h"
#include "ui/dialogs.h"
#include "ui/win32/dialog_ids.h"
#include "ui/win32/win32_text.h"

namespace vornlink {
namespace {

constexpr UINT kRequestMessage = WM_USER + 100;
constexpr UINT kConnectionFailedMessage = WM_APP + 2;
// How long the serving thread waits for the dialog's answer before it
// looks at the stop signal again.
constexpr auto kHandOverPoll = std::chrono::milliseconds(100);

// One request handed to the dialog as message 1124, and its reply. Shared
// by the serving thread and the message, so that a message the dialog
// takes late (or never) writes into nothing freed; the request is posted
// once, so that it is counted once however long the dialog takes.
struct HandOver {
  std::string request;
  std::mutex mutex;
  std::condition_variable answered_or_abandoned;
  bool answered = false;
  bool abandoned = false;
  std::string reply;
};
using HandOverRef = std::shared_ptr<HandOver>;

// Frees the hand-overs of requests the dialog will never take (it ended):
// on the dialog's thread, after the serving thread has ended.
void DropPendingHandOvers() {
  MSG message;
  while (PeekMessageW(&message, nullptr, kRequestMessage, kRequestMessage, PM_REMOVE)) {
    delete reinterpret_cast<HandOverRef*>(message.lParam);
  }
}

struct ServerDialog {
  HWND window = nullptr;
  std::unique_ptr<DmsServer> server;
  StopSignal stop;
  std::thread serving;
  int count = 0;

  // On the serving thread: the dialog's answer to one request; empty when
  // the dialog ends first.
  std::string Answer(const std::string& request) {
    auto hand_over = std::make_shared<HandOver>();
    hand_over->request = request;
    auto* message_ref = new HandOverRef(hand_over);
    if (!PostMessageW(window, kRequestMessage, 0, reinterpret_cast<LPARAM>(message_ref))) {
      delete message_ref;
      return std::string();
    }
    std::unique_lock<std::mutex> lock(hand_over->mutex);
    while (!hand_over->answered) {
      if (stop.IsSet()) {
        hand_over->abandoned = true;
        return std::string();
      }
      hand_over->answered_or_abandoned.wait_for(lock, kHandOverPoll);
    }
    return hand_over->reply;
  }

  void Start() {
    serving = std::thread([this] {
      server->Run(
          stop, [this](const std::string& request) { return Answer(request); },
          [this](const DmsConnectionReport& report) {
            using Outcome = DmsConnectionReport::Outcome;
            if (report.outcome == Outcome::kNoRequest || report.outcome == Outcome::kFailed ||
                report.outcome == Outcome::kTimedOut) {
              PostMessageW(window, kConnectionFailedMessage, 0, 0);
            }
          });
    });
  }

  void Stop() {
    stop.Set();
    if (serving.joinable()) serving.join();
    server.reset();
    DropPendingHandOvers();
  }

  // On the dialog's thread (message 1124).
  void TakeRequest(HandOver& hand_over) {
    {
      std::lock_guard<std::mutex> lock(hand_over.mutex);
      if (hand_over.abandoned) return;
    }
    ++count;
    wchar_t counter[16];
    swprintf(counter, 16, L"%d", count);
    SetDlgItemTextW(window, VORNLINK_IDC_REQUEST_COUNT, counter);
    SetDlgItemTextW(window, VORNLINK_IDC_REQUEST,
                    WideFromBytes(DmsRequestForDisplay(hand_over.request)).c_str());
    std::string reply = Utf8FromWideText(ControlText(window, VORNLINK_IDC_REPLY));
    std::lock_guard<std::mutex> lock(hand_over.mutex);
    hand_over.reply = std::move(reply);
    hand_over.answered = true;
    hand_over.answered_or_abandoned.notify_all();
  }
};

bool CannedReplyOfButton(int id, CannedReply* reply) {
  switch (id) {
    case VORNLINK_IDC_JOB_VALID:
      *reply = CannedReply::kJobValid;
      return true;
    case VORNLINK_IDC_JOB_NOTVALID:
      *reply = CannedReply::kJobNotValid;
      return true;
    case VORNLINK_IDC_FWT_SUCCESS:
      *reply = CannedReply::kFwtSuccess;
      return true;
    case VORNLINK_IDC_FWT_RETRY:
      *reply = CannedReply::kFwtRetry;
      return true;
    case VORNLINK_IDC_FWT_FAILED:
      *reply = CannedReply::kFwtFailed;
      return true;
    default:
      return false;
  }
}

INT_PTR CALLBACK ServerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* dialog = reinterpret_cast<ServerDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      dialog = reinterpret_cast<ServerDialog*>(lparam);
      SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
      dialog->window = window;
      // No 32K limit on what the boxes hold.
      SendDlgItemMessageW(window, VORNLINK_IDC_REQUEST, EM_SETLIMITTEXT, 0, 0);
      SendDlgItemMessageW(window, VORNLINK_IDC_REPLY, EM_SETLIMITTEXT, 0, 0);
      NetResult listened;
      uint16_t port = DmsDialogPort();
      dialog->server = DmsServer::Listen("0.0.0.0", port, &listened);
      if (dialog->server == nullptr) {
        char text[512];
        snprintf(text, sizeof text, "%s c[%d]", "Create", listened.code);
        LogPrint('*', "Server: port[%u] %s t[%s]", port, text, listened.text.c_str());
        MessageBoxW(window, WideFromBytes(text).c_str(), L"ServerSocket", MB_OK);
        EndDialog(window, IDCANCEL);
        return TRUE;
      }
      dialog->Start();
      return TRUE;
    }
    case kRequestMessage: {
      std::unique_ptr<HandOverRef> hand_over(reinterpret_cast<HandOverRef*>(lparam));
      if (dialog != nullptr && hand_over != nullptr) dialog->TakeRequest(**hand_over);
      return TRUE;
    }
    case kConnectionFailedMessage:
      MessageBoxW(window, L"SOCKET_ERROR", L"Server", MB_OK);
      return TRUE;
    case WM_COMMAND: {
      int id = LOWORD(wparam);
      CannedReply reply;
      if (CannedReplyOfButton(id, &reply)) {
        SetDlgItemTextW(window, VORNLINK_IDC_REPLY, WideFromBytes(CannedReplyText(reply)).c_str());
        return TRUE;
      }
      if (id == IDOK || id == IDCANCEL) {
        if (dialog != nullptr) dialog->Stop();
        EndDialog(window, id);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

void ShowServerDialog() {
  ServerDialog dialog;
  INT_PTR result = DialogBoxParamW(DialogModule(), MAKEINTRESOURCEW(VORNLINK_IDD_SERVER), nullptr,
                                   &ServerProc, reinterpret_cast<LPARAM>(&dialog));
  if (result == -1) {
    LogPrint('*', "Server: c[%lu] t[The dialog could not be shown] -> FAILED",
             static_cast<unsigned long>(GetLastError()));
  }
  dialog.Stop();
}

}  // namespace vornlink
