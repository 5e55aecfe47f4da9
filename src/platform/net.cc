#include "platform/net.h"

#include "platform/env.h"
#include "platform/one_line_text.h"

namespace vornlink {

NetResult NetErrorResult(int code) {
  NetResult result;
  result.status = NetStatus::kError;
  result.code = code;
  result.text = WithoutLineBreaks(GetEnv()->ErrorText(code));
  return result;
}

NetResult NetStatusResult(NetStatus status) {
  NetResult result;
  result.status = status;
  return result;
}

}  // namespace vornlink
