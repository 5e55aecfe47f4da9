#include "ui/posix/console_forms.h"

#include <algorithm>
#include <functional>
#include <istream>
#include <iterator>
#include <mutex>
#include <ostream>
#include <thread>

#include "emulated_dms/dms_replies.h"
#include "emulated_dms/dms_server.h"

namespace vornlink {
namespace {

// Column widths as the dialog's list has them, in characters; longer texts
// are shown whole and push the next column on.
constexpr size_t kDataWidth = 32;
constexpr size_t kValueWidth = 32;

// One line per table cell: line breaks inside a value are shown as "\n".
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      line += "\\n";
    } else if (c != '\r') {
      line.push_back(c);
    }
  }
  return line;
}

std::string Padded(const std::string& text, size_t width) {
  std::string cell = text;
  cell.push_back(' ');
  if (cell.size() < width + 1) cell.append(width + 1 - cell.size(), ' ');
  return cell;
}

const char kServerHelp[] =
    "commands: 1 Job VALID, 2 Job NOTVALID, 3 Fwt SUCCESS, 4 Fwt RETRY, 5 Fwt FAILED,\n"
    "          e type a reply (end it with a line holding only \".\"), s show the reply,\n"
    "          q quit\n";

const char* OutcomeText(const DmsConnectionReport& report) {
  using Outcome = DmsConnectionReport::Outcome;
  switch (report.outcome) {
    case Outcome::kNoRequest:
      return "closed without sending a request";
    case Outcome::kTimedOut:
      return "sent no request in time; closed";
    case Outcome::kStopped:
      return "dropped: the server is stopping";
    case Outcome::kFailed:
      return "failed";
    default:
      return "answered";
  }
}

// What the console says of one connection; `answered` counts the requests
// answered so far.
std::string ConnectionText(const DmsConnectionReport& report, int answered) {
  std::string text;
  if (report.outcome == DmsConnectionReport::Outcome::kAnswered) {
    text = "Incoming request number -> " + std::to_string(answered) + " from " + report.peer +
           "\n" + report.request;
    if (report.request.empty() || report.request.back() != '\n') text += "\n";
    text += "(answered with " + std::to_string(report.reply.size()) + " bytes + NUL)\n";
    return text;
  }
  text = "connection";
  if (!report.peer.empty()) text += " from " + report.peer;
  text += std::string(": ") + OutcomeText(report);
  if (report.outcome == DmsConnectionReport::Outcome::kFailed) {
    text += " c[" + std::to_string(report.net.code) + "] t[" + report.net.text + "]";
  }
  return text + "\n";
}

// The lines typed up to one holding only ".", joined by CR LF.
std::string ReadTypedReply(std::istream& in) {
  std::string reply;
  std::string typed;
  bool first = true;
  while (std::getline(in, typed)) {
    if (!typed.empty() && typed.back() == '\r') typed.pop_back();
    if (typed == ".") break;
    if (!first) reply += "\r\n";
    reply += typed;
    first = false;
  }
  return reply;
}

// Takes the operator's commands from `in` (kServerHelp) until "q" or its
// end, changing the reply of `box`; `say` prints.
void TakeServerCommands(std::istream& in, DmsReplyBox* box,
                        const std::function<void(const std::string&)>& say) {
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "q" || line == "quit") break;
    if (line.size() == 1 && line[0] >= '1' && line[0] <= '5') {
      CannedReply reply = kAllCannedReplies[line[0] - '1'];
      box->SetReply(CannedReplyText(reply));
      say(std::string("the server now replies: ") + CannedReplyCaption(reply) + "\n");
    } else if (line == "e") {
      say("type the reply; end it with a line holding only \".\"\n");
      std::string reply = ReadTypedReply(in);
      box->SetReply(reply);
      say("the server now replies with the typed text (" + std::to_string(reply.size()) +
          " bytes)\n");
    } else if (line == "s") {
      std::string reply = box->reply();
      std::string shown;
      std::remove_copy(reply.begin(), reply.end(), std::back_inserter(shown), '\r');
      say("the server replies:\n" + shown + (shown.empty() || shown.back() != '\n' ? "\n" : "") +
          "(end of reply)\n");
    } else if (!line.empty()) {
      say(kServerHelp);
    }
  }
}

}  // namespace

void PrintPropertyTable(const PropertyList& list, std::ostream& out) {
  if (!list.problem.empty()) out << list.problem << "\n";
  out << Padded("Data", kDataWidth) << Padded("Value", kValueWidth) << "ExtF\n";
  out << std::string(kDataWidth, '-') << " " << std::string(kValueWidth, '-') << " ----\n";
  for (const PropertyRow& row : list.rows) {
    out << Padded(OneLine(row.data), kDataWidth) << Padded(OneLine(row.value), kValueWidth)
        << OneLine(row.name) << "\n";
  }
  out << list.rows.size() << " item(s)\n";
  out.flush();
}

bool RunServerConsole(std::istream& in, std::ostream& out, uint16_t port,
                      const std::string& address) {
  NetResult listened;
  std::unique_ptr<DmsServer> server = DmsServer::Listen(address, port, &listened);
  if (server == nullptr) {
    out << "ServerSocket: cannot listen on port " << port << ": c[" << listened.code << "] t["
        << listened.text << "]\n";
    out.flush();
    return false;
  }
  DmsReplyBox box;
  std::mutex output;
  auto say = [&](const std::string& text) {
    std::lock_guard<std::mutex> lock(output);
    out << text;
    out.flush();
  };
  say("Emulated DMS listening on " + address + ":" + std::to_string(server->port()) +
      "; incoming request number -> 0\n" + kServerHelp);

  StopSignal stop;
  std::thread serving([&] {
    server->Run(
        stop, [&](const std::string& request) { return box.Answer(request); },
        [&](const DmsConnectionReport& report) { say(ConnectionText(report, box.count())); });
  });
  TakeServerCommands(in, &box, say);
  stop.Set();
  serving.join();
  say("Emulated DMS closed after " + std::to_string(box.count()) + " request(s)\n");
  return true;
}

}  // namespace vornlink
