// Drives the module's dialogs from outside, as a person would, for
// scripts/test-dialogs.sh (usage below): finds the dialog another process
// opened, checks its controls, presses its buttons, talks to the emulated
// DMS over TCP and closes it. A "PASS: ..." or "FAIL: ..." line per check.
#include <windows.h>
#include <winsock2.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what.c_str());
  std::fflush(stdout);
  failures += !ok;
}

std::string Narrow(const wchar_t* text) {
  char result[16384] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, result, sizeof result - 1, nullptr, nullptr);
  return result;
}

// The dialog with this caption, waited for up to 30 s.
HWND FindDialog(const std::string& title) {
  for (int i = 0; i < 300; ++i) {
    HWND window = FindWindowA("#32770", title.c_str());
    if (window != nullptr && IsWindowVisible(window)) return window;
    Sleep(100);
  }
  return nullptr;
}

std::string Text(HWND dialog, int id) {  // WM_GETTEXT crosses processes
  wchar_t text[8192] = {};
  SendMessageW(GetDlgItem(dialog, id), WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(text));
  return Narrow(text);
}

std::string ClassOf(HWND dialog, int id) {
  wchar_t name[64] = {};
  GetClassNameW(GetDlgItem(dialog, id), name, 64);
  return Narrow(name);
}

// Sends `message` to a control of another process with a `T` and a text
// buffer placed in that process's memory (list views and headers take
// pointers); returns the text and, in `*item`, the struct after the call.
template <typename T>
std::string RemoteText(HWND control, UINT message, WPARAM wparam, T* item) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(control, &process_id);
  HANDLE process =
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process_id);
  if (process == nullptr) return "<no access>";
  const size_t kChars = 512;
  auto* remote = static_cast<char*>(VirtualAllocEx(
      process, nullptr, sizeof(T) + kChars * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE));
  item->cchTextMax = kChars;
  item->pszText = reinterpret_cast<wchar_t*>(remote + sizeof(T));
  WriteProcessMemory(process, remote, item, sizeof(T), nullptr);
  SendMessageW(control, message, wparam, reinterpret_cast<LPARAM>(remote));
  wchar_t text[kChars + 1] = {};
  ReadProcessMemory(process, remote + sizeof(T), text, kChars * sizeof(wchar_t), nullptr);
  ReadProcessMemory(process, remote, item, sizeof(T), nullptr);
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return Narrow(text);
}

// As a click: the button tells its dialog through WM_COMMAND.
void Press(HWND dialog, int id) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

int Close(HWND dialog, const std::string& how) {
  if (how != "keep") {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(how == "ok" ? IDOK : IDCANCEL, BN_CLICKED), 0);
    for (int i = 0; i < 100 && IsWindow(dialog); ++i) Sleep(100);
    Check(!IsWindow(dialog), "the dialog closed with " + how);
  }
  return failures == 0 ? 0 : 1;
}

int Properties(const std::string& rows, const std::string& close) {
  HWND dialog = FindDialog("Properties");
  Check(dialog != nullptr, "the Properties dialog is open");
  if (dialog == nullptr) return 1;
  HWND list = GetDlgItem(dialog, 1006);
  Check(ClassOf(dialog, 1006) == "SysListView32" &&
            (GetWindowLongW(list, GWL_STYLE) & LVS_TYPEMASK) == LVS_REPORT,
        "control 1006 is a report list view");
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  std::string headings;
  for (int column = 0; column < 3; ++column) {
    HDITEMW item = {};
    item.mask = HDI_TEXT | HDI_WIDTH;
    headings += RemoteText(header, HDM_GETITEMW, column, &item);
    headings += "/" + std::to_string(item.cxy) + (column < 2 ? " " : "");
  }
  Check(headings == "Data/100 Value/100 ExtF/30",
        "columns Data 100, Value 100, ExtF 30: " + headings);
  std::string shown;
  int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) {
    for (int column = 0; column < 3; ++column) {
      LVITEMW item = {};
      item.iSubItem = column;
      shown += RemoteText(list, LVM_GETITEMTEXTW, row, &item) + (column < 2 ? "|" : ";");
    }
  }
  Check(shown == (rows.empty() ? rows : rows + ";"), "rows: " + shown);
  return Close(dialog, close);
}

// Sends `request` to the emulated DMS and returns its whole answer.
std::string Exchange(int port, const std::string& request) {
  SOCKET socket_handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer = "<connect failed>";
  if (connect(socket_handle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    send(socket_handle, request.data(), static_cast<int>(request.size()), 0);
    char buffer[8192];
    answer.clear();
    for (int got; (got = recv(socket_handle, buffer, sizeof buffer, 0)) > 0;)
      answer.append(buffer, got);
  }
  closesocket(socket_handle);
  return answer;
}

int Server(int port, const std::string& close) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  HWND dialog = FindDialog("Emulated Quarnel TCP server to test a XML KMR 1.xx driver against");
  Check(dialog != nullptr, "the server dialog is open");
  if (dialog == nullptr) return 1;
  Check(Text(dialog, 1000) == "0" && Text(dialog, 1003).empty(), "counter 0, reply box empty");
  LONG request = GetWindowLongW(GetDlgItem(dialog, 1001), GWL_STYLE);
  LONG reply = GetWindowLongW(GetDlgItem(dialog, 1003), GWL_STYLE);
  Check(ClassOf(dialog, 1001) == "Edit" && (request & ES_MULTILINE) && (request & ES_READONLY) &&
            (reply & ES_MULTILINE) && (reply & ES_WANTRETURN) && !(reply & ES_READONLY),
        "request box multi-line and read-only, reply box multi-line and editable");
  const struct {
    int id;
    const char *caption, *mark;
  } kButtons[] = {{1005, "Job VALID", "<ErrorCode>0</ErrorCode>"},
                  {1006, "Job NOTVALID", "<ErrorCode>2</ErrorCode>"},
                  {1007, "Fwt SUCCESS", "<returnCode>0</returnCode>"},
                  {1009, "Fwt RETRY", "<returnCode>2</returnCode>"},
                  {1008, "Fwt FAILED", "<returnCode>5</returnCode>"}};
  for (const auto& button : kButtons) {
    std::string caption = Text(dialog, button.id);
    Press(dialog, button.id);
    Check(caption == button.caption && Text(dialog, 1003).find(button.mark) != std::string::npos,
          std::string(button.caption) + " loads its reply");
  }
  Press(dialog, 1005);
  std::string answer = Exchange(port, std::string("<Query>\n<RONumber>118739</RONumber>\n") + '\0');
  Check(answer == Text(dialog, 1003) + '\0', "the peer receives the reply box's text and one NUL");
  Check(Text(dialog, 1000) == "1", "the counter shows 1: " + Text(dialog, 1000));
  Check(Text(dialog, 1001) == "<Query>\r\n<RONumber>118739</RONumber>\r\n",
        "the request box shows the request without its NUL, CR LF after each '>'");
  Exchange(port, std::string("second") + '\0');
  Check(Text(dialog, 1000) == "2", "the counter shows 2: " + Text(dialog, 1000));
  return Close(dialog, close);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "properties") return Properties(args[1], args[2]);
  if (args.size() == 3 && args[0] == "server") return Server(std::atoi(args[1].c_str()), args[2]);
  HWND dialog = args.size() == 2 ? FindDialog(args[1]) : nullptr;
  if (dialog != nullptr && args[0] == "close") return Close(dialog, "cancel");
  if (dialog != nullptr && args[0] == "rect") {
    // Drawn as the active window, as a person sees the dialog they work with
    // (a virtual display without a window manager activates nothing).
    SendMessageW(dialog, WM_NCACTIVATE, TRUE, 0);
    RECT rect = {};
    GetWindowRect(dialog, &rect);
    std::printf("%ldx%ld+%ld+%ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left,
                rect.top);
    return 0;
  }
  // ROWS: "Data|Value|ExtF;..." in order; rect prints the window's screen rectangle.
  std::fprintf(stderr,
               "usage: dialog_driver properties ROWS ok|cancel | server PORT ok|cancel|keep | "
               "rect TITLE | close TITLE\n");
  return args.size() == 2 ? 1 : 2;
}
