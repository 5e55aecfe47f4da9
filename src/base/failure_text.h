// The driver's one exception type: a failure that carries the text of the
// failure line. The formatter, the job number split, the transports and the
// reply peeling raise it; each exchange catches it once at its top. It never
// leaves an exchange, and no other exception kind is used for control flow.
//
// Beside its text, which is for the log and the person who reads it, a
// failure carries its kind: what the DMS can have made of the query, and
// for a failure of the network what a person should look at. The exchanges
// and the operator tool decide by these, never by the wording of the text.
#ifndef VORNLINK_BASE_FAILURE_TEXT_H_
#define VORNLINK_BASE_FAILURE_TEXT_H_

#include <exception>
#include <string>
#include <utility>

namespace vornlink {

enum class FailureKind {
  kOther,  // a refusal, a reply that cannot be read, a setting, the
           // formatter, trust, or a network failure after sending
  // Nothing of the query reached the DMS: its name did not resolve, the
  // connect was refused, found no way to the host, or the time limit ran
  // out before it was established. Sending it again cannot book it twice.
  kNotReached,
  kStopped,  // the stop signal ended it before any of the query went out
  // The query had gone out (in part or whole) when the stop's cut ended the
  // wait for the reply: the DMS may have booked it.
  kCutAfterSending,
  // The time limit ran out once the query had gone out (in part or whole):
  // the DMS may have booked it.
  kTimeLimitAfterSending,
};

// What a failed connection or wait tells a person to look at.
enum class NetFailure {
  kOther,        // not a matter of the network, or nothing more to tell
  kRefused,      // nothing listens at the address and port
  kNameLookup,   // the host's name could not be looked up
  kUnreachable,  // no way to the host (network, firewall), or it does not answer the connect
  kTimedOut,     // the exchange's time limit ran out
  kCertificate,  // HTTPS: the peer's certificate is not trusted
  kTls,          // HTTPS: the TLS handshake failed otherwise
  kTrustFile,    // HTTPS: the file of trusted authorities cannot be used
};

class FailureText : public std::exception {
 public:
  explicit FailureText(std::string text, FailureKind kind = FailureKind::kOther,
                       NetFailure net = NetFailure::kOther)
      : text_(std::move(text)), kind_(kind), net_(net) {}
  const std::string& text() const { return text_; }
  FailureKind kind() const { return kind_; }
  NetFailure net() const { return net_; }
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
  FailureKind kind_;
  NetFailure net_;
};

}  // namespace vornlink

#endif  // VORNLINK_BASE_FAILURE_TEXT_H_
