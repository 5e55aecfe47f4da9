// The end of a DMS reply that both transports share: a reply ends at its
// first NUL byte.
#ifndef VORNLINK_TRANSPORT_NUL_ENDED_REPLY_H_
#define VORNLINK_TRANSPORT_NUL_ENDED_REPLY_H_

#include <string>
#include <string_view>

namespace vornlink {

// Gathers a reply that comes in pieces (the reads of a transport): the
// bytes before its first NUL. Nothing after that NUL is part of the reply,
// whether it came in the same piece or a later one. Owned and used by one
// transport call; not thread-safe.
class NulEndedReply {
 public:
  // Adds the bytes of `piece` up to its first NUL, unless a NUL came
  // before. Returns whether the reply has ended (a NUL has come), so that
  // a transport that need not read the rest can stop there.
  bool Take(std::string_view piece) {
    if (!ended_) {
      const size_t nul = piece.find('\0');
      text_.append(piece.substr(0, nul));
      ended_ = nul != std::string_view::npos;
    }
    return ended_;
  }

  // The reply so far: the bytes before the NUL once it came.
  std::string& text() { return text_; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  bool ended_ = false;
};

}  // namespace vornlink

#endif  // VORNLINK_TRANSPORT_NUL_ENDED_REPLY_H_
