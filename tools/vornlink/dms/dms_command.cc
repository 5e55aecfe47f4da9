#include "vornlink/dms/dms_command.h"

#include <atomic>
#include <csignal>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "emulated_dms/dms_http.h"
#include "emulated_dms/dms_port.h"
#include "emulated_dms/dms_repeats.h"
#include "emulated_dms/dms_replies.h"
#include "emulated_dms/dms_server.h"
#include "emulated_dms/tls_server.h"
#include "platform/env.h"
#include "transport/http_headers.h"
#include "vornlink/base/filtered_stream.h"
#include "vornlink/dms/dms_options.h"

namespace vornlink {
namespace {

// `text` as the log shows it: control bytes and broken UTF-8 made visible.
std::string Shown(std::string_view text) {
  std::string shown;
  AppendFiltered(text, /*complete=*/true, &shown);
  return shown;
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
  int number = 0;  // the request's number, counted from 1 as requests come
  std::string reply_name;
  std::string reply;   // as it goes out (a job reply names the job asked)
  std::string key;     // with --drop-repeats: the request's key, if it has one
  std::string no_key;  // else why it has none
  int repeat_of = 0;   // a dropped repeat: the request first answered so
};

// What the connection threads share: the requests' numbers, the keys
// answered, the count of answered requests and the log, each entry of which
// is written whole.
class DmsTally {
 public:
  // Entries go to the file --log names, else to `out`; a failure to write
  // the file is told in `err`.
  DmsTally(const DmsOptions& options, std::ostream& out, std::ostream& err, StopSignal& stop)
      : options_(options), out_(out), err_(err), stop_(stop) {}

  // Numbers a complete request and chooses its answer: a repeat of a key
  // answered before gets that answer again; anything else gets its reply
  // by the rules, and its key is remembered.
  Choice Choose(const std::string& request, std::string key, std::string no_key) {
    Choice choice;
    choice.key = std::move(key);
    choice.no_key = std::move(no_key);
    const std::string* reply = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      choice.number = ++requests_;
      if (const DmsRepeatMemory::FirstAnswer* first = repeats_.DropRepeat(choice.key)) {
        choice.reply_name = first->reply_name;
        choice.repeat_of = first->request;
        reply = first->reply;
      } else {
        reply = &ChooseReply(options_, request, &choice.reply_name);
        repeats_.Remember(choice.key, choice.number, choice.reply_name, reply);
      }
    }
    choice.reply = ReplyForRequest(*reply, request);
    return choice;
  }

  // Counts a request whose answer went out; the --count-th one stops the
  // server.
  void Answered() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (++answered_ == options_.count) stop_.Set();
  }

  // The file is opened afresh for each entry, the way the driver opens its
  // log: a regular file only, through links only where nobody else could
  // have planted them, so that a link planted meanwhile steers no entry
  // into another file. The first failure after a success is told.
  void Log(const std::string& entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (options_.log_file.empty()) {
      out_ << entry;
      out_.flush();
      return;
    }
    std::string error;
    const bool written = GetEnv()->AppendTextFile(options_.log_file, Shown(entry), false, &error);
    if (!written && log_written_) {
      err_ << "vornlink dms: cannot write " << options_.log_file << ": " << error << std::endl;
    }
    log_written_ = written;
  }

  int answered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return answered_;
  }
  int dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return repeats_.dropped();
  }

 private:
  const DmsOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  StopSignal& stop_;
  bool log_written_ = true;  // the last entry reached the log file
  mutable std::mutex mutex_;
  int requests_ = 0;
  int answered_ = 0;
  DmsRepeatMemory repeats_;
};

// "--- answered request N with NAME (SIZE)" and, with --drop-repeats, the
// key and whether the request was a repeat.
void LogAnswer(const DmsOptions& options, const Choice& choice, const std::string& size,
               std::ostream& log) {
  log << "--- answered request " << choice.number << " with " << choice.reply_name << " (" << size
      << ")";
  if (!options.repeat_marker.empty()) {
    if (choice.key.empty()) {
      log << ", " << choice.no_key;
    } else {
      log << ", key " << choice.key;
    }
    if (choice.repeat_of != 0) log << ": a repeat of request " << choice.repeat_of << ", dropped";
  }
  log << "\n";
}

// Serves one connection in HTTP or HTTPS mode; the log entry goes to `log`.
void ServeHttp(std::unique_ptr<NetConnection> connection, TlsServerContext* tls,
               const DmsOptions& options, const StopSignal& stop, DmsTally& tally,
               std::ostream& log) {
  WaitLimit limit = WaitLimit::After(std::chrono::milliseconds(options.time_limit_ms), &stop);
  std::string peer = connection->PeerText();
  if (tls != nullptr) {
    std::unique_ptr<NetConnection> secure;
    NetResult shaken = tls->Accept(std::move(connection), limit, &secure);
    if (!shaken.ok()) {
      log << "--- connection from " << peer << ": TLS handshake failed t[" << shaken.text << "]\n";
      return;
    }
    connection = std::move(secure);
  }
  DmsHttpRequest request;
  std::string error;
  if (!ReadDmsHttpRequest(*connection, limit, &request, &error)) {
    log << "--- connection from " << peer << ": " << error << "\n";
    return;
  }
  // In the headers where they hold the marker, else in the body.
  std::string no_key;
  std::string key = DmsRequestKey(request.headers, options.repeat_marker, &no_key);
  if (request.headers.find(options.repeat_marker) == std::string::npos) {
    key = DmsRequestKey(request.body, options.repeat_marker, &no_key);
  }
  const Choice choice = tally.Choose(request.body, std::move(key), std::move(no_key));
  log << "--- request " << choice.number << " from " << peer << ": " << request.request_line << " ("
      << request.body.size() << " bytes)\n"
      << (options.show_secrets ? request.headers : MaskHeaderSecrets(request.headers)) << "\n"
      << request.body << (request.body.empty() || request.body.back() == '\n' ? "" : "\n");
  NetResult sent = connection->SendAll(DmsHttpResponse(choice.reply), limit);
  connection->ShutdownSend();
  if (!sent.ok()) {
    log << "--- reply to request " << choice.number << " failed c[" << sent.code << "] t["
        << sent.text << "]\n";
    return;
  }
  tally.Answered();
  LogAnswer(options, choice, std::to_string(choice.reply.size()) + " bytes", log);
}

// Serves one connection in the TCP framing; the log entry goes to `log`.
void ServeTcp(NetConnection& connection, const DmsOptions& options, const StopSignal& stop,
              DmsTally& tally, std::ostream& log) {
  using Outcome = DmsConnectionReport::Outcome;
  Choice choice;
  const DmsConnectionReport report = ServeDmsConnection(
      connection,
      [&](const std::string& request) {
        std::string no_key;
        std::string key = DmsRequestKey(request, options.repeat_marker, &no_key);
        choice = tally.Choose(request, std::move(key), std::move(no_key));
        return choice.reply;
      },
      &stop, std::chrono::milliseconds(options.time_limit_ms));
  if (choice.number != 0) {
    log << "--- request " << choice.number << " from " << report.peer << " ("
        << report.request.size() << " bytes)\n"
        << report.request << (report.request.empty() || report.request.back() == '\n' ? "" : "\n");
  }
  switch (report.outcome) {
    case Outcome::kAnswered:
      tally.Answered();
      LogAnswer(options, choice, std::to_string(report.reply.size()) + " bytes + NUL", log);
      return;
    case Outcome::kNoRequest:
      log << "--- connection from " << report.peer << ": closed without a request\n";
      return;
    case Outcome::kTimedOut:
      log << "--- connection from " << report.peer << ": no "
          << (choice.number != 0 ? "reply sent" : "request") << " within the time limit\n";
      return;
    case Outcome::kStopped:
      log << "--- connection from " << report.peer << ": ended by the stop\n";
      return;
    case Outcome::kFailed:
      log << "--- connection from " << report.peer << ": failed c[" << report.net.code << "] t["
          << report.net.text << "]\n";
      return;
  }
}

// The signal that asked the server to stop (0: none yet). The handler only
// sets it; a watching thread and the main thread look at it: an atomic that
// needs no lock serves both the handler and the threads.
std::atomic<int> g_stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may set it");

void OnStopSignal(int signal) { g_stop_signal = signal; }

// The start line: where, how, and which reply for which request.
void PrintStartLine(const DmsOptions& options, uint16_t port, std::ostream& out) {
  out << "vornlink dms: listening on " << options.address << ":" << port << " ("
      << ModeName(options.mode) << "), reply " << options.reply_name;
  for (const DmsOptions::Rule& rule : options.rules) {
    out << "; " << rule.reply_name << " when the request holds \"" << rule.text << "\"";
  }
  if (!options.repeat_marker.empty()) {
    out << "; dropping repeats of the key after " << options.repeat_marker;
  }
  out << "; up to " << kDmsConnectionThreads << " connections answered and "
      << kDmsMaxOpenConnections << " open at once, " << options.time_limit_ms << " ms each"
      << std::endl;
}

// Whether `bytes` hold the first TLS record whole (the client's hello), or
// enough to tell that they begin with none: in HTTPS the handshake comes
// first, and a client that has sent its hello is ready for it.
bool TlsFirstRecordComplete(std::string_view bytes) {
  constexpr size_t kRecordHeaderBytes = 5;              // type, version (2), length (2)
  if (!bytes.empty() && bytes[0] != 0x16) return true;  // no handshake record
  if (bytes.size() < kRecordHeaderBytes) return false;
  const size_t length =
      static_cast<unsigned char>(bytes[3]) * 256u + static_cast<unsigned char>(bytes[4]);
  return bytes.size() >= kRecordHeaderBytes + length;
}

// Serves until `stop` is set: by SIGINT or SIGTERM (caught meanwhile), or
// by `tally` once --count requests are answered. Each connection's entry
// goes to the log through `tally`.
void ServeUntilStopped(DmsServer* server, const DmsOptions& options, TlsServerContext* tls,
                       DmsTally* tally, StopSignal* stop) {
  g_stop_signal = 0;
  auto previous_interrupt = std::signal(SIGINT, OnStopSignal);
  auto previous_terminate = std::signal(SIGTERM, OnStopSignal);
  std::thread watching([&] {
    while (!stop->WaitFor(static_cast<uint32_t>(kStopPollInterval.count()))) {
      if (g_stop_signal != 0) stop->Set();
    }
  });
  const DmsRequestComplete complete =
      options.mode == Mode::kTcp    ? DmsRequestComplete(DmsTcpRequestComplete)
      : options.mode == Mode::kHttp ? DmsRequestComplete(DmsHttpRequestComplete)
                                    : DmsRequestComplete(TlsFirstRecordComplete);
  server->Serve(
      *stop, complete, std::chrono::milliseconds(options.time_limit_ms),
      [&](std::unique_ptr<NetConnection> connection) {
        std::ostringstream entry;
        if (options.mode == Mode::kTcp) {
          ServeTcp(*connection, options, *stop, *tally, entry);
        } else {
          ServeHttp(std::move(connection), tls, options, *stop, *tally, entry);
        }
        tally->Log(entry.str());
      },
      [&](const NetResult& failed) {
        tally->Log("--- accept failed c[" + std::to_string(failed.code) + "] t[" + failed.text +
                   "]\n");
      });
  watching.join();
  std::signal(SIGINT, previous_interrupt);
  std::signal(SIGTERM, previous_terminate);
}

}  // namespace

const CommandHelp kDmsHelp = {
    "dms",
    CommandGroup::kOperator,
    "dms [OPTIONS]",
    "the emulated DMS: answers every request with one\n"
    "reply, or one by rules; needs no module",
    "Runs until --count requests are answered, or until SIGINT or SIGTERM\n"
    "(then it prints how many it answered). Keeps many connections open and\n"
    "reads their requests in turns, so that idle or slow clients hold up no\n"
    "one; each has its time limit (the start line says how many). The job\n"
    "replies list three lines of the work order in the request's first\n"
    "RONumber element, one of them with the line code in its first LineCode\n"
    "element (without them: work order 118739, lines A, B and C).\n"
    "\n"
    "  --port N            port to listen on (9123; 0: any free port, printed)\n"
    "  --address A         local address (0.0.0.0: every one)\n"
    "  --reply NAME        canned reply: job-valid, job-notvalid, fwt-success\n"
    "                      (the default), fwt-retry, fwt-failed\n"
    "  --reply-file FILE   reply with the bytes of FILE instead (a regular file,\n"
    "                      through links only that nobody else could plant)\n"
    "  --reply-when TEXT NAME\n"
    "                      answer a request that holds TEXT with the canned reply\n"
    "                      NAME instead (may be given several times; the first\n"
    "                      that matches wins): one DMS for both exchanges, as in\n"
    "                      --reply fwt-success --reply-when RONumber job-valid\n"
    "  --drop-repeats TEXT book each key once: the key is what follows TEXT in the\n"
    "                      request (in HTTP, in its headers when they hold TEXT,\n"
    "                      else its body), e.g. 'Idempotency-Key:' or '<MessageID>';\n"
    "                      a request whose key was answered before is a repeat:\n"
    "                      logged, counted, and answered as the first was; one\n"
    "                      with TEXT before different keys, or with a key over 128\n"
    "                      characters, has no key and is booked as new\n"
    "  --http              speak HTTP: the request body is the query, the reply\n"
    "                      goes back as a 200 response (default: the TCP\n"
    "                      transport's convention, text + NUL each way)\n"
    "  --https --cert FILE --key FILE\n"
    "                      HTTP inside TLS with that PEM certificate and key\n"
    "                      (Linux build only)\n"
    "  --log FILE          log requests to FILE (a regular file, as above)\n"
    "                      instead of standard output\n"
    "  --show-secrets      log the values of credential headers (Authorization,\n"
    "                      cookies, keys, tokens) as they came; masked otherwise\n"
    "  --count N           stop after N answered requests\n"
    "  --time-limit MS     per connection, for its request and reply (5000)\n",
    "0 after --count requests or a stop by a signal, 1 it cannot serve (the\n"
    "port is taken, say), 2 usage error",
    "The emulated DMS; needs no module.\n",
    "--reply job-valid job-notvalid fwt-success fwt-retry fwt-failed\n"};

int RunDmsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  DmsOptions options;
  if (!ParseDmsOptions(args, &options, err)) return 2;

  std::unique_ptr<TlsServerContext> tls;
  if (options.mode == Mode::kHttps) {
    std::string error;
    tls = TlsServerContext::Load(options.certificate, options.key, &error);
    if (tls == nullptr) {
      err << "vornlink dms: " << error << "\n";
      return 1;
    }
  }
  if (!options.log_file.empty()) {
    // Made (or found writable) now, so that a wrong name ends the run here.
    std::string error;
    if (!GetEnv()->AppendTextFile(options.log_file, std::string(), false, &error)) {
      err << "vornlink dms: cannot write " << options.log_file << ": " << error << "\n";
      return 1;
    }
  }

  NetResult listened;
  std::unique_ptr<DmsServer> server =
      DmsServer::Listen(options.address, options.port, &listened, kDmsBurstBacklog);
  if (server == nullptr) {
    err << "vornlink dms: cannot listen on " << options.address << ":" << options.port << ": c["
        << listened.code << "] t[" << listened.text << "]\n";
    return 1;
  }
  PrintStartLine(options, server->port(), out);

  StopSignal stop;
  DmsTally tally(options, out, err, stop);
  ServeUntilStopped(server.get(), options, tls.get(), &tally, &stop);

  const int signal = g_stop_signal;
  if (signal != 0) {
    out << "vornlink dms: stopped by " << (signal == SIGINT ? "SIGINT" : "SIGTERM") << "\n";
  }
  out << "vornlink dms: answered " << tally.answered() << " request(s)";
  if (!options.repeat_marker.empty()) out << ", dropped " << tally.dropped() << " repeat(s)";
  out << std::endl;
  return 0;
}

}  // namespace vornlink
