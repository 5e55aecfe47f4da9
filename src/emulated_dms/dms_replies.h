// The emulated DMS's five canned replies: a job-validation reply that finds
// the job and one that does not, and forward-transaction replies for
// success, retry later and failed. Lines end with CR LF and are indented
// with blanks, as a DMS sends them.
#ifndef VORNLINK_EMULATED_DMS_DMS_REPLIES_H_
#define VORNLINK_EMULATED_DMS_DMS_REPLIES_H_

#include <string>

namespace vornlink {

enum class CannedReply {
  kJobValid,     // RONumber 118739, line codes A, B, C; ErrorCode 0
  kJobNotValid,  // the same records with ErrorCode 2
  kFwtSuccess,   // code success, returnCode 0, errorText OK
  kFwtRetry,     // code failure, returnCode 2, errorText Item is locked
  kFwtFailed,    // code failure, returnCode 5, errorText User ID "?" is not valid
};

inline constexpr CannedReply kAllCannedReplies[] = {
    CannedReply::kJobValid, CannedReply::kJobNotValid, CannedReply::kFwtSuccess,
    CannedReply::kFwtRetry, CannedReply::kFwtFailed};

// The reply's whole text.
std::string CannedReplyText(CannedReply reply);

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
