// The emulated DMS's five canned replies: a job-validation reply that finds
// the job and one that does not, and forward-transaction replies for
// success, retry later and failed. Lines end with CR LF and are indented
// with blanks, as a DMS sends them.
//
// The job replies list three open lines of work order 118739, line codes A,
// B and C. Given the request, they follow the job it asks about: the work
// order and line code in its first RONumber and LineCode elements (as the
// sample validation queries send them) replace 118739 and the first line's
// code, unless the line code is one of the three already.
#ifndef VORNLINK_EMULATED_DMS_DMS_REPLIES_H_
#define VORNLINK_EMULATED_DMS_DMS_REPLIES_H_

#include <string>
#include <string_view>

namespace vornlink {

enum class CannedReply {
  kJobValid,     // RONumber 118739 (or the one asked), line codes A, B, C; ErrorCode 0
  kJobNotValid,  // the same records with ErrorCode 2
  kFwtSuccess,   // code success, returnCode 0, errorText OK
  kFwtRetry,     // code failure, returnCode 2, errorText Item is locked
  kFwtFailed,    // code failure, returnCode 5, errorText User ID "?" is not valid
};

inline constexpr CannedReply kAllCannedReplies[] = {
    CannedReply::kJobValid, CannedReply::kJobNotValid, CannedReply::kFwtSuccess,
    CannedReply::kFwtRetry, CannedReply::kFwtFailed};

// The reply's whole text; a job reply for the job `request` asks about.
std::string CannedReplyText(CannedReply reply, std::string_view request = {});

// `reply` as it goes out to `request`: the text of a canned job reply (as
// CannedReplyText gives it without a request) becomes the reply for the job
// asked; any other text stands as it is.
std::string ReplyForRequest(const std::string& reply, std::string_view request);

// Its short name: "job-valid", "job-notvalid", "fwt-success", "fwt-retry",
// "fwt-failed".
const char* CannedReplyName(CannedReply reply);

// The button caption of the dialog: "Job VALID", "Job NOTVALID", ...
const char* CannedReplyCaption(CannedReply reply);

// The reply named `name` (short name, case-insensitive). False when there is
// none of that name.
bool CannedReplyByName(const std::string& name, CannedReply* reply);

}  // namespace vornlink

#endif  // VORNLINK_EMULATED_DMS_DMS_REPLIES_H_
