// The formatter on any template, with ordinals of all types and extreme values.
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/failure_text.h"
#include "exchange/ext_format.h"

namespace {

const vornlink::ExtFormat& Table() {
  static const vornlink::ExtFormat* table = [] {
    auto* format = new vornlink::ExtFormat();
    format->AddInt("01", 42);
    format->AddInt("05", INT32_MIN);
    format->AddInt("06", INT32_MAX);
    format->AddString("07", "123456");
    format->AddString("21", "Motor oil 5W-30 %s %n %%");
    format->AddString("FU", std::string("http://dms\0hidden", 17));
    format->AddString("ee", "");
    format->AddDouble("08", -2.5);
    format->AddDouble("K9", 1500.0);
    format->AddDouble("BG", DBL_MAX);
    format->AddDouble("SM", -DBL_MIN);
    format->AddDouble("in", HUGE_VAL);
    return format;
  }();
  return *table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view templ(reinterpret_cast<const char*>(data), size);
  std::string result;
  try {
    result = Table().Format(templ);
  } catch (const vornlink::FailureText& failure) {
    if (failure.text().rfind("f[ExtFormat] t[", 0) != 0) std::abort();
    return 0;
  }
  // A template without '%' comes back unchanged.
  if (templ.find('%') == std::string_view::npos && result != templ) std::abort();
  return 0;
}
