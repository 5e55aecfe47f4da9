// Text and module helpers for the Windows dialogs. Include only from
// src/ui/win32.
#ifndef VORNLINK_UI_WIN32_WIN32_TEXT_H_
#define VORNLINK_UI_WIN32_WIN32_TEXT_H_

#include <windows.h>

#include <string>

namespace vornlink {

// UTF-8 (or, where it is not valid UTF-8, the system's code page) to UTF-16.
std::wstring WideFromBytes(const std::string& text);
// UTF-16 to UTF-8.
std::string Utf8FromWideText(const std::wstring& text);
// A control's whole text.
std::wstring ControlText(HWND dialog, int id);
// The module these dialogs are built into (the driver DLL).
HINSTANCE DialogModule();

}  // namespace vornlink

#endif  // VORNLINK_UI_WIN32_WIN32_TEXT_H_
