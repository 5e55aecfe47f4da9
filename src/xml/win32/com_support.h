// Owners for COM resources: the thread's COM initialisation, interface
// pointers, BSTRs and VARIANTs. Include only from src/xml/win32.
#ifndef VORNLINK_XML_WIN32_COM_SUPPORT_H_
#define VORNLINK_XML_WIN32_COM_SUPPORT_H_

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <string>

namespace vornlink {

// COM on the calling thread for the life of the object. A thread that has
// COM in the other apartment mode already keeps it (RPC_E_CHANGED_MODE): COM
// is usable there as it is, and this object then leaves it alone.
class ScopedComInit {
 public:
  ScopedComInit() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ScopedComInit() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ScopedComInit(const ScopedComInit&) = delete;
  ScopedComInit& operator=(const ScopedComInit&) = delete;

  // True when COM can be used on this thread.
  bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }
  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
};

// An interface pointer that releases what it holds.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr& other) : pointer_(other.pointer_) {
    if (pointer_ != nullptr) pointer_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : pointer_(other.pointer_) { other.pointer_ = nullptr; }
  ComPtr& operator=(ComPtr other) noexcept {
    T* held = pointer_;
    pointer_ = other.pointer_;
    other.pointer_ = held;
    return *this;
  }
  ~ComPtr() { Reset(); }

  void Reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }
  T* get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For a call that hands out a new reference; releases what was held.
  T** receive() {
    Reset();
    return &pointer_;
  }

 private:
  T* pointer_ = nullptr;
};

class ScopedBstr {
 public:
  ScopedBstr() = default;
  explicit ScopedBstr(const wchar_t* text) : bstr_(SysAllocString(text)) {}
  ~ScopedBstr() { SysFreeString(bstr_); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;

  BSTR get() const { return bstr_; }
  BSTR* receive() {
    SysFreeString(bstr_);
    bstr_ = nullptr;
    return &bstr_;
  }

 private:
  BSTR bstr_ = nullptr;
};

class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&variant_); }
  ~ScopedVariant() { VariantClear(&variant_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;

  VARIANT* get() { return &variant_; }
  const VARIANT& value() const { return variant_; }

 private:
  VARIANT variant_;
};

// UTF-16 to UTF-8.
inline std::string Utf8FromWide(const wchar_t* text, int length) {
  if (text == nullptr || length <= 0) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, &result[0], size, nullptr, nullptr);
  return result;
}

inline std::string Utf8FromBstr(BSTR text) {
  return Utf8FromWide(text, text != nullptr ? static_cast<int>(SysStringLen(text)) : 0);
}

}  // namespace vornlink

#endif  // VORNLINK_XML_WIN32_COM_SUPPORT_H_
