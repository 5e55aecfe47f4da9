// The Properties dialog: template 1001, a report list of the Setup items.
// The list is filled while the dialog initialises; a settings document that
// cannot be read leaves it empty and the reason is shown in a message box
// once the dialog is on screen.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <memory>
#include <string>

#include "log/log.h"
#include "ui/dialogs.h"
#include "ui/properties_rows.h"
#include "ui/win32/dialog_ids.h"
#include "ui/win32/win32_text.h"

namespace vornlink {
namespace {

constexpr UINT kShowProblemMessage = WM_APP + 1;

struct Column {
  const wchar_t* heading;
  int width;  // pixels
};
constexpr Column kColumns[] = {{L"Data", 100}, {L"Value", 100}, {L"ExtF", 30}};

void InsertColumns(HWND list) {
  for (int index = 0; index < 3; ++index) {
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = kColumns[index].width;
    column.pszText = const_cast<wchar_t*>(kColumns[index].heading);
    column.iSubItem = index;
    SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
  }
}

void SetCell(HWND list, int row, int column, const std::string& text) {
  std::wstring wide = WideFromBytes(text);
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(wide.c_str());
  SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

void InsertRows(HWND list, const PropertyList& properties) {
  int index = 0;
  for (const PropertyRow& row : properties.rows) {
    std::wstring data = WideFromBytes(row.data);
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = const_cast<wchar_t*>(data.c_str());
    int inserted =
        static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (inserted < 0) continue;
    SetCell(list, inserted, 1, row.value);
    SetCell(list, inserted, 2, row.name);
    ++index;
  }
}

INT_PTR CALLBACK PropertiesProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      HWND list = GetDlgItem(dialog, VORNLINK_IDC_SETTINGS_LIST);
      InsertColumns(list);
      PropertyList properties = ReadModulePropertyRows();
      InsertRows(list, properties);
      if (!properties.problem.empty()) {
        LogPrint('*', "Properties: t[%s]", properties.problem.c_str());
        auto* problem = new std::wstring(WideFromBytes(properties.problem));
        if (!PostMessageW(dialog, kShowProblemMessage, 0, reinterpret_cast<LPARAM>(problem))) {
          delete problem;
        }
      }
      return TRUE;
    }
    case kShowProblemMessage: {
      std::unique_ptr<std::wstring> problem(reinterpret_cast<std::wstring*>(lparam));
      MessageBoxW(dialog, problem->c_str(), L"Properties", MB_OK | MB_ICONWARNING);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wparam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void ShowPropertiesDialog() {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  INT_PTR result = DialogBoxParamW(DialogModule(), MAKEINTRESOURCEW(VORNLINK_IDD_PROPERTIES),
                                   nullptr, &PropertiesProc, 0);
  if (result == -1) {
    LogPrint('*', "Properties: c[%lu] t[The dialog could not be shown] -> FAILED",
             static_cast<unsigned long>(GetLastError()));
  }
}

}  // namespace vornlink
