// The driver's one exception type: a failure that carries the text of the
// failure line. The formatter, the job number split, the transports and the
// reply peeling raise it; each exchange catches it once at its top. It never
// leaves an exchange, and no other exception kind is used for control flow.
#ifndef VORNLINK_BASE_FAILURE_TEXT_H_
#define VORNLINK_BASE_FAILURE_TEXT_H_

#include <exception>
#include <string>
#include <utility>

namespace vornlink {

class FailureText : public std::exception {
 public:
  explicit FailureText(std::string text) : text_(std::move(text)) {}
  const std::string& text() const { return text_; }
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

}  // namespace vornlink

#endif  // VORNLINK_BASE_FAILURE_TEXT_H_
