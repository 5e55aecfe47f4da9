// Drives the module's dialogs from outside, as a person would, for
// scripts/test-dialogs.sh: finds the dialog window another process opened
// through the export, checks its controls, presses its buttons, talks to
// the emulated DMS over TCP and closes the dialog.
//
//   dialog_driver properties ROWS [ok|cancel]
//       ROWS: the expected rows, "Data|Value|ExtF;..." in order.
//   dialog_driver server PORT [ok|cancel]
//   dialog_driver rect TITLE     prints the window's screen rectangle
//
// Prints what it checks and "PASS" or "FAIL: ..." lines; exit status 0 when
// all checks passed.
#include <windows.h>
#include <winsock2.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size,
                      nullptr, nullptr);
  return result;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size);
  return result;
}

// The dialog with this caption, waited for up to 30 s.
HWND FindDialog(const std::string& title) {
  for (int i = 0; i < 300; ++i) {
    HWND window = FindWindowW(L"#32770", Wide(title).c_str());
    if (window != nullptr && IsWindowVisible(window)) return window;
    Sleep(100);
  }
  return nullptr;
}

std::string Text(HWND window) {
  // WM_GETTEXT is carried across processes by the system.
  LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  LRESULT got = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(got));
  return Narrow(text);
}

std::string ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return Narrow(name);
}

// Sends `message` to a control of another process with a `T` and a text
// buffer placed in that process's memory (list views and headers take
// pointers), and returns the text and, in `*item`, the struct after the call.
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
  std::wstring text(kChars, L'\0');
  ReadProcessMemory(process, remote + sizeof(T), &text[0], kChars * sizeof(wchar_t), nullptr);
  ReadProcessMemory(process, remote, item, sizeof(T), nullptr);
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  text.resize(wcslen(text.c_str()));
  return Narrow(text);
}

std::string ListCell(HWND list, int row, int column) {
  LVITEMW item = {};
  item.iSubItem = column;
  return RemoteText(list, LVM_GETITEMTEXTW, row, &item);
}

// "Heading/width".
std::string ColumnHeading(HWND list, int column) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  HDITEMW item = {};
  item.mask = HDI_TEXT | HDI_WIDTH;
  std::string text = RemoteText(header, HDM_GETITEMW, column, &item);
  return text + "/" + std::to_string(item.cxy);
}

void Press(HWND dialog, int id) {
  // As a click: the button tells its dialog through WM_COMMAND.
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void Close(HWND dialog, const std::string& how) {
  int id = how == "ok" ? IDOK : IDCANCEL;
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
  for (int i = 0; i < 100 && IsWindow(dialog); ++i) Sleep(100);
  Check(!IsWindow(dialog), "the dialog closed with " + how);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? at : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

int Properties(const std::string& rows, const std::string& close) {
  HWND dialog = FindDialog("Properties");
  Check(dialog != nullptr, "the Properties dialog is open");
  if (dialog == nullptr) return 1;
  Check(Text(GetDlgItem(dialog, IDOK)) == "OK", "button 1 is OK");
  Check(Text(GetDlgItem(dialog, IDCANCEL)) == "Cancel", "button 2 is Cancel");
  HWND list = GetDlgItem(dialog, 1006);
  Check(list != nullptr && ClassOf(list) == "SysListView32", "control 1006 is a list view");
  Check((GetWindowLongW(list, GWL_STYLE) & LVS_TYPEMASK) == LVS_REPORT, "the list is a report");
  std::string headings =
      ColumnHeading(list, 0) + " " + ColumnHeading(list, 1) + " " + ColumnHeading(list, 2);
  Check(headings == "Data/100 Value/100 ExtF/30",
        "columns Data 100, Value 100, ExtF 30: " + headings);
  std::vector<std::string> expected = rows.empty() ? std::vector<std::string>() : Split(rows, ';');
  int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  Check(count == static_cast<int>(expected.size()),
        "rows: " + std::to_string(count) + ", expected " + std::to_string(expected.size()));
  for (int row = 0; row < count && row < static_cast<int>(expected.size()); ++row) {
    std::string shown =
        ListCell(list, row, 0) + "|" + ListCell(list, row, 1) + "|" + ListCell(list, row, 2);
    Check(shown == expected[row], "row " + std::to_string(row) + ": " + shown);
  }
  Close(dialog, close);
  return failures == 0 ? 0 : 1;
}

// Sends `request` to the emulated DMS and returns its whole answer.
std::string Exchange(int port, const std::string& request) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET socket_handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(socket_handle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    send(socket_handle, request.data(), static_cast<int>(request.size()), 0);
    char buffer[8192];
    int got;
    while ((got = recv(socket_handle, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, got);
  } else {
    answer = "<connect failed: " + std::to_string(WSAGetLastError()) + ">";
  }
  closesocket(socket_handle);
  WSACleanup();
  return answer;
}

int Server(int port, const std::string& close) {
  const std::string title = "Emulated Quarnel TCP server to test a XML KMR 1.xx driver against";
  HWND dialog = FindDialog(title);
  Check(dialog != nullptr, "the server dialog is open");
  if (dialog == nullptr) return 1;
  Check(Text(GetDlgItem(dialog, 1000)) == "0", "the counter starts at 0");
  Check(ClassOf(GetDlgItem(dialog, 1001)) == "Edit", "control 1001 is an edit box");
  LONG request_style = GetWindowLongW(GetDlgItem(dialog, 1001), GWL_STYLE);
  Check((request_style & ES_MULTILINE) && (request_style & ES_READONLY),
        "the request box is multi-line and read-only");
  LONG reply_style = GetWindowLongW(GetDlgItem(dialog, 1003), GWL_STYLE);
  Check(
      (reply_style & ES_MULTILINE) && (reply_style & ES_WANTRETURN) && !(reply_style & ES_READONLY),
      "the reply box is multi-line and editable");
  Check(Text(GetDlgItem(dialog, 1003)).empty(), "the reply box starts empty");
  struct Button {
    int id;
    const char* caption;
    const char* mark;
  };
  const Button buttons[] = {
      {1005, "Job VALID", "<ErrorCode>0</ErrorCode>"},
      {1006, "Job NOTVALID", "<ErrorCode>2</ErrorCode>"},
      {1007, "Fwt SUCCESS", "<returnCode>0</returnCode>"},
      {1009, "Fwt RETRY", "<returnCode>2</returnCode>"},
      {1008, "Fwt FAILED", "<returnCode>5</returnCode>"},
  };
  for (const Button& button : buttons) {
    Check(Text(GetDlgItem(dialog, button.id)) == button.caption,
          std::string("button ") + std::to_string(button.id) + " is " + button.caption);
    Press(dialog, button.id);
    Check(Text(GetDlgItem(dialog, 1003)).find(button.mark) != std::string::npos,
          std::string(button.caption) + " loads its reply");
  }
  Press(dialog, 1005);
  std::string reply = Text(GetDlgItem(dialog, 1003));
  std::string answer = Exchange(port, std::string("<Query>\n<RONumber>118739</RONumber>\n") + '\0');
  Check(answer == reply + std::string(1, '\0'),
        "the peer receives the reply box's text and one NUL (" + std::to_string(answer.size()) +
            " bytes)");
  Check(Text(GetDlgItem(dialog, 1000)) == "1", "the counter shows 1");
  Check(Text(GetDlgItem(dialog, 1001)) == "<Query>\r\n<RONumber>118739</RONumber>\r\n",
        "the request box shows the request without its NUL, CR LF after each '>'");
  Exchange(port, std::string("second") + '\0');
  Check(Text(GetDlgItem(dialog, 1000)) == "2", "the counter shows 2");
  if (close == "keep") return failures == 0 ? 0 : 1;
  Close(dialog, close);
  return failures == 0 ? 0 : 1;
}

int PrintRect(const std::string& title) {
  HWND dialog = FindDialog(title);
  if (dialog == nullptr) return 1;
  RECT rect = {};
  GetWindowRect(dialog, &rect);
  std::printf("%ldx%ld+%ld+%ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left,
              rect.top);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && args[0] == "properties") {
    return Properties(args[1], args.size() > 2 ? args[2] : "ok");
  }
  if (args.size() >= 2 && args[0] == "server") {
    return Server(std::atoi(args[1].c_str()), args.size() > 2 ? args[2] : "cancel");
  }
  if (args.size() == 2 && args[0] == "rect") return PrintRect(args[1]);
  if (args.size() == 2 && args[0] == "close") {
    HWND dialog = FindDialog(args[1]);
    if (dialog == nullptr) return 1;
    Close(dialog, "cancel");
    return failures == 0 ? 0 : 1;
  }
  std::fprintf(stderr,
               "usage: dialog_driver properties ROWS [ok|cancel] | server PORT [ok|cancel|keep] | "
               "rect TITLE | close TITLE\n");
  return 2;
}
