#include "vornlink/dms_command.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>

#include "emulated_dms/dms_http.h"
#include "emulated_dms/dms_port.h"
#include "emulated_dms/dms_repeats.h"
#include "emulated_dms/dms_replies.h"
#include "emulated_dms/dms_server.h"
#include "emulated_dms/tls_server.h"
#include "transport/http_headers.h"
#include "vornlink/output_filter.h"

namespace vornlink {
namespace {

constexpr uint16_t kDefaultPort = 9123;

enum class Mode { kTcp, kHttp, kHttps };

struct DmsOptions {
  std::string address = "0.0.0.0";
  uint16_t port = kDefaultPort;
  std::string reply_name = "fwt-success";
  std::string reply;
  Mode mode = Mode::kTcp;
  std::string certificate;
  std::string key;
  std::string log_file;
  bool show_secrets = false;  // credential headers logged as they came
  // A request that holds `text` gets this reply instead, the first rule
  // that matches: text, reply name, reply text.
  struct Rule {
    std::string text;
    std::string reply_name;
    std::string reply;
  };
  std::vector<Rule> rules;
  // Not empty: repeats of a booking key found after this text are dropped.
  std::string repeat_marker;
  int count = 0;
  int time_limit_ms = static_cast<int>(kDmsConnectionTimeLimit.count());
};

const char* ModeName(Mode mode) {
  return mode == Mode::kTcp ? "tcp" : mode == Mode::kHttp ? "http" : "https";
}

bool ReadWholeFile(const std::string& path, std::string* contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  *contents = text.str();
  return true;
}

bool ParseCount(const std::string& text, int* value) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *value = std::stoi(text);
  return true;
}

// False with a complaint in `err` for a usage error.
bool ParseOptions(const std::vector<std::string>& args, DmsOptions* options, std::ostream& err) {
  bool reply_set = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    auto value = [&](std::string* target) {
      if (i + 1 >= args.size()) {
        err << "vornlink dms: " << option << " needs a value\n";
        return false;
      }
      *target = args[++i];
      return true;
    };
    std::string text;
    if (option == "--port" || option == "-p") {
      if (!value(&text)) return false;
      options->port = text == "0" ? 0 : ParsePort(text);
      if (options->port == 0 && text != "0") {
        err << "vornlink dms: " << text << " is not a port number\n";
        return false;
      }
    } else if (option == "--address") {
      if (!value(&options->address)) return false;
    } else if (option == "--reply" || option == "-r") {
      if (!value(&text)) return false;
      CannedReply canned;
      if (!CannedReplyByName(text, &canned)) {
        err << "vornlink dms: no canned reply named " << text
            << " (job-valid, job-notvalid, fwt-success, fwt-retry, fwt-failed)\n";
        return false;
      }
      options->reply_name = CannedReplyName(canned);
      options->reply = CannedReplyText(canned);
      reply_set = true;
    } else if (option == "--reply-when") {
      DmsOptions::Rule rule;
      if (!value(&rule.text) || !value(&text)) return false;
      CannedReply canned;
      if (rule.text.empty() || !CannedReplyByName(text, &canned)) {
        err << "vornlink dms: --reply-when takes a text to look for and a canned reply name\n";
        return false;
      }
      rule.reply_name = CannedReplyName(canned);
      rule.reply = CannedReplyText(canned);
      options->rules.push_back(std::move(rule));
    } else if (option == "--reply-file") {
      if (!value(&text)) return false;
      if (!ReadWholeFile(text, &options->reply)) {
        err << "vornlink dms: cannot read " << text << "\n";
        return false;
      }
      options->reply_name = text;
      reply_set = true;
    } else if (option == "--drop-repeats") {
      if (!value(&options->repeat_marker)) return false;
      if (options->repeat_marker.empty()) {
        err << "vornlink dms: --drop-repeats takes the text that stands before the key\n";
        return false;
      }
    } else if (option == "--http") {
      options->mode = Mode::kHttp;
    } else if (option == "--https") {
      options->mode = Mode::kHttps;
    } else if (option == "--cert") {
      if (!value(&options->certificate)) return false;
    } else if (option == "--key") {
      if (!value(&options->key)) return false;
    } else if (option == "--log") {
      if (!value(&options->log_file)) return false;
    } else if (option == "--show-secrets") {
      options->show_secrets = true;
    } else if (option == "--count" || option == "-n") {
      if (!value(&text) || !ParseCount(text, &options->count)) {
        err << "vornlink dms: --count takes a number\n";
        return false;
      }
    } else if (option == "--time-limit") {
      if (!value(&text) || !ParseCount(text, &options->time_limit_ms) ||
          options->time_limit_ms == 0) {
        err << "vornlink dms: --time-limit takes a number of milliseconds\n";
        return false;
      }
    } else {
      err << "vornlink dms: unknown option " << option << "\n";
      return false;
    }
  }
  if (!reply_set) options->reply = CannedReplyText(CannedReply::kFwtSuccess);
  if (options->mode == Mode::kHttps && (options->certificate.empty() || options->key.empty())) {
    err << "vornlink dms: --https needs --cert FILE and --key FILE\n";
    return false;
  }
  return true;
}

// The reply for `request` and its name: the first rule whose text the
// request holds, else the one reply.
const std::string& ChooseReply(const DmsOptions& options, const std::string& request,
                               std::string* name) {
  for (const DmsOptions::Rule& rule : options.rules) {
    if (request.find(rule.text) != std::string::npos) {
      *name = rule.reply_name;
      return rule.reply;
    }
  }
  *name = options.reply_name;
  return options.reply;
}

// The answer to one request and how it was chosen.
struct Choice {
  std::string reply_name;
  const std::string* reply = nullptr;
  std::string key;    // with --drop-repeats: the request's key, if it has one
  int repeat_of = 0;  // a dropped repeat: the request first answered so
};

// A repeat of a key answered before gets that answer again; anything else
// gets its reply by the rules, and its key is remembered as request `number`.
Choice ChooseAnswer(const DmsOptions& options, const std::string& request, std::string key,
                    int number, DmsRepeatMemory* repeats) {
  Choice choice;
  choice.key = std::move(key);
  if (const DmsRepeatMemory::FirstAnswer* first = repeats->DropRepeat(choice.key)) {
    choice.reply_name = first->reply_name;
    choice.reply = first->reply;
    choice.repeat_of = first->request;
    return choice;
  }
  choice.reply = &ChooseReply(options, request, &choice.reply_name);
  repeats->Remember(choice.key, number, choice.reply_name, choice.reply);
  return choice;
}

// "--- answered request N with NAME (SIZE)" and, with --drop-repeats, the
// key and whether the request was a repeat.
void LogAnswer(const DmsOptions& options, int number, const Choice& choice, const std::string& size,
               std::ostream& log) {
  log << "--- answered request " << number << " with " << choice.reply_name << " (" << size << ")";
  if (!options.repeat_marker.empty()) {
    if (choice.key.empty()) {
      log << ", no key after " << options.repeat_marker;
    } else {
      log << ", key " << choice.key;
    }
    if (choice.repeat_of != 0) log << ": a repeat of request " << choice.repeat_of << ", dropped";
  }
  log << "\n";
}

// Serves one connection in HTTP or HTTPS mode; false when no request was
// answered. Writes what happened to `log`.
bool ServeHttp(std::unique_ptr<NetConnection> connection, TlsServerContext* tls,
               const DmsOptions& options, int number, DmsRepeatMemory* repeats, std::ostream& log) {
  WaitLimit limit = WaitLimit::After(std::chrono::milliseconds(options.time_limit_ms), nullptr);
  std::string peer = connection->PeerText();
  if (tls != nullptr) {
    std::unique_ptr<NetConnection> secure;
    NetResult shaken = tls->Accept(std::move(connection), limit, &secure);
    if (!shaken.ok()) {
      log << "--- connection from " << peer << ": TLS handshake failed t[" << shaken.text << "]\n";
      return false;
    }
    connection = std::move(secure);
  }
  DmsHttpRequest request;
  std::string error;
  if (!ReadDmsHttpRequest(*connection, limit, &request, &error)) {
    log << "--- connection from " << peer << ": " << error << "\n";
    return false;
  }
  log << "--- request " << number << " from " << peer << ": " << request.request_line << " ("
      << request.body.size() << " bytes)\n"
      << (options.show_secrets ? request.headers : MaskHeaderSecrets(request.headers)) << "\n"
      << request.body << (request.body.empty() || request.body.back() == '\n' ? "" : "\n");
  // A header first, then the body.
  std::string key = DmsRequestKey(request.headers, options.repeat_marker);
  if (key.empty()) key = DmsRequestKey(request.body, options.repeat_marker);
  const Choice choice = ChooseAnswer(options, request.body, std::move(key), number, repeats);
  NetResult sent = connection->SendAll(DmsHttpResponse(*choice.reply), limit);
  connection->ShutdownSend();
  if (!sent.ok()) {
    log << "--- reply to request " << number << " failed c[" << sent.code << "] t[" << sent.text
        << "]\n";
    return false;
  }
  LogAnswer(options, number, choice, std::to_string(choice.reply->size()) + " bytes", log);
  return true;
}

void LogTcpReport(const DmsOptions& options, const DmsConnectionReport& report, int number,
                  const Choice& choice, std::ostream& log) {
  using Outcome = DmsConnectionReport::Outcome;
  if (report.outcome != Outcome::kAnswered) {
    log << "--- connection from " << report.peer << ": ";
    switch (report.outcome) {
      case Outcome::kNoRequest:
        log << "closed without a request\n";
        break;
      case Outcome::kTimedOut:
        log << "no request within the time limit\n";
        break;
      default:
        log << "failed c[" << report.net.code << "] t[" << report.net.text << "]\n";
    }
    return;
  }
  log << "--- request " << number << " from " << report.peer << " (" << report.request.size()
      << " bytes)\n"
      << report.request << (report.request.empty() || report.request.back() == '\n' ? "" : "\n");
  LogAnswer(options, number, choice, std::to_string(report.reply.size()) + " bytes + NUL", log);
}

}  // namespace

void PrintDmsUsage(std::ostream& out) {
  out << "usage: vornlink dms [OPTIONS]\n"
         "\n"
         "Plays the DMS: answers every request with one reply, until interrupted or\n"
         "--count requests are answered. Needs no driver module.\n"
         "\n"
         "  --port N            port to listen on (9123; 0: any free port, printed)\n"
         "  --address A         local address (0.0.0.0: every one)\n"
         "  --reply NAME        canned reply: job-valid, job-notvalid, fwt-success\n"
         "                      (the default), fwt-retry, fwt-failed\n"
         "  --reply-file FILE   reply with the bytes of FILE instead\n"
         "  --reply-when TEXT NAME\n"
         "                      answer a request that holds TEXT with the canned reply\n"
         "                      NAME instead (may be given several times; the first\n"
         "                      that matches wins): one DMS for both exchanges, as in\n"
         "                      --reply fwt-success --reply-when RONumber job-valid\n"
         "  --drop-repeats TEXT book each key once: the key is what follows TEXT in the\n"
         "                      request (in HTTP, in its headers, then its body), e.g.\n"
         "                      'Idempotency-Key:' or '<MessageID>'; a request whose key\n"
         "                      was answered before is a repeat: logged, counted, and\n"
         "                      answered as the first was\n"
         "  --http              speak HTTP: the request body is the query, the reply\n"
         "                      goes back as a 200 response (default: the TCP\n"
         "                      transport's convention, text + NUL each way)\n"
         "  --https --cert FILE --key FILE\n"
         "                      HTTP inside TLS with that PEM certificate and key\n"
         "                      (Linux build only)\n"
         "  --log FILE          log requests to FILE instead of standard output\n"
         "  --show-secrets      log the values of credential headers (Authorization,\n"
         "                      cookies, keys, tokens) as they came; masked otherwise\n"
         "  --count N           stop after N answered requests\n"
         "  --time-limit MS     per connection, for its request and reply (5000)\n";
}

int RunDmsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      PrintDmsUsage(out);
      return 0;
    }
  }
  DmsOptions options;
  if (!ParseOptions(args, &options, err)) return 2;

  std::unique_ptr<TlsServerContext> tls;
  if (options.mode == Mode::kHttps) {
    std::string error;
    tls = TlsServerContext::Load(options.certificate, options.key, &error);
    if (tls == nullptr) {
      err << "vornlink dms: " << error << "\n";
      return 1;
    }
  }
  std::ofstream log_file;
  if (!options.log_file.empty()) {
    log_file.open(options.log_file, std::ios::binary | std::ios::app);
    if (!log_file) {
      err << "vornlink dms: cannot write " << options.log_file << "\n";
      return 1;
    }
  }
  std::optional<FilteredStream> filtered_log;  // ends before the file closes
  if (log_file.is_open()) filtered_log.emplace(log_file);
  std::ostream& log = options.log_file.empty() ? out : log_file;

  NetResult listened;
  std::unique_ptr<DmsServer> server = DmsServer::Listen(options.address, options.port, &listened);
  if (server == nullptr) {
    err << "vornlink dms: cannot listen on " << options.address << ":" << options.port << ": c["
        << listened.code << "] t[" << listened.text << "]\n";
    return 1;
  }
  out << "vornlink dms: listening on " << options.address << ":" << server->port() << " ("
      << ModeName(options.mode) << "), reply " << options.reply_name;
  if (!options.repeat_marker.empty()) {
    out << ", dropping repeats of the key after " << options.repeat_marker;
  }
  out << std::endl;

  const std::chrono::milliseconds time_limit(options.time_limit_ms);
  int answered = 0;
  int number = 0;
  DmsRepeatMemory repeats;
  StopSignal never;
  while (options.count == 0 || answered < options.count) {
    if (options.mode == Mode::kTcp) {
      DmsConnectionReport report;
      WaitLimit forever;
      Choice choice;
      bool served = server->ServeOne(
          forever,
          [&](const std::string& request) {
            choice = ChooseAnswer(options, request, DmsRequestKey(request, options.repeat_marker),
                                  number + 1, &repeats);
            return *choice.reply;
          },
          &report, time_limit);
      if (!served) {
        log << "--- accept failed c[" << report.net.code << "] t[" << report.net.text << "]\n";
        never.WaitFor(100);
        continue;
      }
      if (report.outcome == DmsConnectionReport::Outcome::kAnswered) ++answered;
      LogTcpReport(options, report, ++number, choice, log);
    } else {
      std::unique_ptr<NetConnection> connection;
      NetResult accepted = server->Accept(WaitLimit(), &connection);
      if (!accepted.ok()) {
        log << "--- accept failed c[" << accepted.code << "] t[" << accepted.text << "]\n";
        never.WaitFor(100);
        continue;
      }
      if (ServeHttp(std::move(connection), tls.get(), options, number + 1, &repeats, log)) {
        ++answered;
        ++number;
      }
    }
    log.flush();
  }
  out << "vornlink dms: answered " << answered << " request(s)";
  if (!options.repeat_marker.empty()) out << ", dropped " << repeats.dropped() << " repeat(s)";
  out << std::endl;
  return 0;
}

}  // namespace vornlink
