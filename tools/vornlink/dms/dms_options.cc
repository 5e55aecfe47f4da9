#include "vornlink/dms/dms_options.h"

#include "emulated_dms/dms_port.h"
#include "emulated_dms/dms_replies.h"
#include "platform/env.h"

namespace vornlink {

const char* ModeName(Mode mode) {
  return mode == Mode::kTcp ? "tcp" : mode == Mode::kHttp ? "http" : "https";
}

namespace {

// The bytes of the reply file as they stand (no line end converted), read
// the way the driver reads its files: a regular file only, through links
// only where nobody else could have planted them. False with the reason in
// `error`.
bool ReadReplyFile(const std::string& path, std::string* contents, std::string* error) {
  FileStamp stamp;
  switch (GetEnv()->ReadFileBytes(path, 0, kMaxReplyFileBytes + 1, contents, &stamp, error)) {
    case ReadResult::kOk:
      if (contents->size() <= kMaxReplyFileBytes) return true;
      *error = "larger than " + std::to_string(kMaxReplyFileBytes) + " bytes";
      return false;
    case ReadResult::kMissing:
      *error = "no such file";
      return false;
    case ReadResult::kError:
      break;
  }
  return false;
}

bool ParseCount(const std::string& text, int* value) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *value = std::stoi(text);
  return true;
}

// The command's words, read one option at a time.
class OptionWords {
 public:
  OptionWords(const std::vector<std::string>& args, std::ostream& err) : args_(args), err_(err) {}

  // Moves on to the next option; false after the last.
  bool Next() { return ++next_ <= args_.size(); }
  const std::string& option() const { return args_[next_ - 1]; }
  // The option's value, the word after it; false with a complaint when
  // there is none.
  bool Value(std::string* target) {
    if (next_ >= args_.size()) {
      err_ << "vornlink dms: " << option() << " needs a value\n";
      return false;
    }
    *target = args_[next_++];
    return true;
  }
  std::ostream& err() { return err_; }

 private:
  const std::vector<std::string>& args_;
  std::ostream& err_;
  size_t next_ = 0;  // the word after the option
};

// Whether an option was one of those a function reads, and sound.
enum class Taken { kNotMine, kTaken, kUsageError };

Taken Bad(std::ostream& err, const std::string& complaint) {
  err << "vornlink dms: " << complaint << "\n";
  return Taken::kUsageError;
}

// The options that choose the replies: --reply, --reply-when, --reply-file
// and --drop-repeats. `reply_set`: the one reply was chosen.
Taken TakeReplyOption(OptionWords& words, DmsOptions* options, bool* reply_set) {
  const std::string& option = words.option();
  std::string text;
  CannedReply canned;
  if (option == "--reply" || option == "-r") {
    if (!words.Value(&text)) return Taken::kUsageError;
    if (!CannedReplyByName(text, &canned)) {
      return Bad(words.err(), "no canned reply named " + text +
                                  " (job-valid, job-notvalid, fwt-success, fwt-retry, fwt-failed)");
    }
    options->reply_name = CannedReplyName(canned);
    options->reply = CannedReplyText(canned);
    *reply_set = true;
  } else if (option == "--reply-when") {
    DmsOptions::Rule rule;
    if (!words.Value(&rule.text) || !words.Value(&text)) return Taken::kUsageError;
    if (rule.text.empty() || !CannedReplyByName(text, &canned)) {
      return Bad(words.err(), "--reply-when takes a text to look for and a canned reply name");
    }
    rule.reply_name = CannedReplyName(canned);
    rule.reply = CannedReplyText(canned);
    options->rules.push_back(std::move(rule));
  } else if (option == "--reply-file") {
    if (!words.Value(&text)) return Taken::kUsageError;
    std::string error;
    if (!ReadReplyFile(text, &options->reply, &error)) {
      return Bad(words.err(), "cannot read " + text + ": " + error);
    }
    options->reply_name = text;
    *reply_set = true;
  } else if (option == "--drop-repeats") {
    if (!words.Value(&options->repeat_marker)) return Taken::kUsageError;
    if (options->repeat_marker.empty()) {
      return Bad(words.err(), "--drop-repeats takes the text that stands before the key");
    }
  } else {
    return Taken::kNotMine;
  }
  return Taken::kTaken;
}

// The options of the listening socket and the protocol: --port, --address,
// --http, --https, --cert and --key.
Taken TakeListenOption(OptionWords& words, DmsOptions* options) {
  const std::string& option = words.option();
  std::string text;
  if (option == "--port" || option == "-p") {
    if (!words.Value(&text)) return Taken::kUsageError;
    options->port = text == "0" ? 0 : ParsePort(text);
    if (options->port == 0 && text != "0") return Bad(words.err(), text + " is not a port number");
  } else if (option == "--address") {
    if (!words.Value(&options->address)) return Taken::kUsageError;
  } else if (option == "--http") {
    options->mode = Mode::kHttp;
  } else if (option == "--https") {
    options->mode = Mode::kHttps;
  } else if (option == "--cert") {
    if (!words.Value(&options->certificate)) return Taken::kUsageError;
  } else if (option == "--key") {
    if (!words.Value(&options->key)) return Taken::kUsageError;
  } else {
    return Taken::kNotMine;
  }
  return Taken::kTaken;
}

// The options of the run: --log, --show-secrets, --count and --time-limit.
Taken TakeRunOption(OptionWords& words, DmsOptions* options) {
  const std::string& option = words.option();
  std::string text;
  if (option == "--log") {
    if (!words.Value(&options->log_file)) return Taken::kUsageError;
  } else if (option == "--show-secrets") {
    options->show_secrets = true;
  } else if (option == "--count" || option == "-n") {
    if (!words.Value(&text) || !ParseCount(text, &options->count)) {
      return Bad(words.err(), "--count takes a number");
    }
  } else if (option == "--time-limit") {
    if (!words.Value(&text) || !ParseCount(text, &options->time_limit_ms) ||
        options->time_limit_ms == 0) {
      return Bad(words.err(), "--time-limit takes a number of milliseconds");
    }
  } else {
    return Taken::kNotMine;
  }
  return Taken::kTaken;
}

}  // namespace

bool ParseDmsOptions(const std::vector<std::string>& args, DmsOptions* options, std::ostream& err) {
  bool reply_set = false;
  for (OptionWords words(args, err); words.Next();) {
    Taken taken = TakeReplyOption(words, options, &reply_set);
    if (taken == Taken::kNotMine) taken = TakeListenOption(words, options);
    if (taken == Taken::kNotMine) taken = TakeRunOption(words, options);
    if (taken == Taken::kNotMine) Bad(err, "unknown option " + words.option());
    if (taken != Taken::kTaken) return false;
  }
  if (!reply_set) options->reply = CannedReplyText(CannedReply::kFwtSuccess);
  if (options->mode == Mode::kHttps && (options->certificate.empty() || options->key.empty())) {
    err << "vornlink dms: --https needs --cert FILE and --key FILE\n";
    return false;
  }
  return true;
}

}  // namespace vornlink
