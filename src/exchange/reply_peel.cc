#include "exchange/reply_peel.h"

#include "base/failure_text.h"
#include "exchange/log_lines.h"

namespace vornlink {
namespace {

enum class Peeled { kCode, kText };

std::string_view BeforeFirstSlash(std::string_view spec) {
  size_t slash = spec.find('/');
  return slash == std::string_view::npos ? std::string_view() : spec.substr(0, slash);
}

std::string_view AfterFirstSlash(std::string_view spec) {
  size_t slash = spec.find('/');
  return slash == std::string_view::npos ? std::string_view() : spec.substr(slash + 1);
}

// The second of the parts between slashes.
std::string_view SecondPart(std::string_view spec) {
  std::string_view rest = AfterFirstSlash(spec);
  return rest.substr(0, rest.find('/'));
}

bool StartsWithColon(std::string_view text) { return !text.empty() && text.front() == ':'; }

std::string Peel(std::string_view reply, std::string_view spec, const PeelOptions& options,
                 Peeled what) {
  if (!options.peel) return ElementText(spec, reply);
  const bool validation = options.exchange == ExchangeKind::kJobValidation;

  std::string level(BeforeFirstSlash(spec));
  LogBracketed('p', "                      Level", level);
  if (StartsWithColon(level)) {
    level = NamespacePrefix(reply, level) + level;
    LogBracketed('n', "      Level with name space", level);
  }
  std::string peeled = CutToElement(reply, level);
  LogBracketed('p', "           Reply after peel", peeled, /*value_on_next_line=*/true);
  if (peeled.empty()) {
    throw FailureText(what == Peeled::kCode
                          ? "Reply: c[ ] t[Response has zero length after code peel]"
                          : "Reply: c[ ] t[Response has zero length after description peel]");
  }

  std::string_view parameter = AfterFirstSlash(spec);
  LogBracketed('p', "                  Parameter", parameter);
  std::string path = level + "/";
  if (StartsWithColon(parameter)) {
    path += NamespacePrefix(peeled, parameter);
    path.append(parameter);
    LogBracketed('n', "  Parameter with name space", path);
  } else {
    path.append(parameter);
    const char flag = (what == Peeled::kCode && !validation) ? 'n' : 'p';
    LogBracketed(flag, "       Parameter with level", path);
  }
  return ElementText(path, peeled);
}

}  // namespace

std::string NormaliseReply(std::string_view reply) {
  std::string normal;
  normal.reserve(reply.size() + reply.size() / 8);
  for (size_t at = 0; at < reply.size(); ++at) {
    normal.push_back(reply[at]);
    if (reply[at] == '>' && at + 1 < reply.size() && reply[at + 1] == '<') normal.append("\r\n");
  }
  LogBracketed('r', "             Reply from DMS", normal, /*value_on_next_line=*/true);
  return normal;
}

std::string NamespacePrefix(std::string_view text, std::string_view name) {
  std::string prefix;
  size_t found = name.empty() ? std::string_view::npos : text.find(name);
  if (found != std::string_view::npos) {
    std::string_view before = text.substr(0, found);
    size_t open = before.rfind('<');
    if (open != std::string_view::npos) prefix = std::string(before.substr(open + 1));
  }
  LogBracketed('n', "               Name space: ", prefix);
  return prefix;
}

std::string CutToElement(std::string_view text, std::string_view label) {
  const std::string closing = "</" + std::string(label) + ">";
  if (IsFlagEnabled('p')) {
    LogWriteLine('p', "      Lable length to use: [" + std::to_string(label.size() + 3) + "]");
  }
  size_t start = text.find("<" + std::string(label));
  if (start != std::string_view::npos) text.remove_prefix(start);
  size_t end = text.find(closing);
  if (end == std::string_view::npos) return std::string();
  return std::string(text.substr(0, end + closing.size()));
}

std::string ElementText(std::string_view spec, std::string_view text) {
  const std::string_view name = SecondPart(spec);
  const std::string opening = "<" + std::string(name) + ">";
  const std::string closing = "</" + std::string(name) + ">";
  std::string line;
  for (char c : text) {
    if (c != '\n') {
      if (!(line.empty() && (c == ' ' || c == '\t'))) line.push_back(c);
      continue;
    }
    if (line.find(opening) == std::string::npos) {
      line.clear();
      continue;
    }
    // The tags are cut by length, not compared. The one character after
    // the closing tag is the carriage return NormaliseReply put there; a
    // line that ends at the closing tag has none to lose.
    size_t tail = closing.size() + 1;
    if (line.size() >= closing.size() &&
        line.compare(line.size() - closing.size(), closing.size(), closing) == 0) {
      tail = closing.size();
    }
    if (line.size() < opening.size() + tail) return std::string();
    return line.substr(opening.size(), line.size() - opening.size() - tail);
  }
  return std::string();
}

bool PeelSwitchOn(std::string_view value) { return value == "1"; }

void LogPeelSwitch(ExchangeKind exchange, std::string_view value) {
  if (exchange == ExchangeKind::kJobValidation) {
    LogBracketed('p', "            IJV enable peel", value);
  } else {
    LogBracketed('r', "            FWT enable peel", value);
  }
}

std::string PeelCode(std::string_view reply, std::string_view spec, const PeelOptions& options) {
  std::string code = Peel(reply, spec, options, Peeled::kCode);
  LogBracketed('r', ReplyLabel(kResultLabel), code);
  return code;
}

std::string PeelText(std::string_view reply, std::string_view spec, const PeelOptions& options) {
  std::string text = Peel(reply, spec, options, Peeled::kText);
  if (options.exchange != ExchangeKind::kJobValidation) LogDescription(text);
  return text;
}

void LogDescription(std::string_view text) {
  LogBracketed('r', ReplyLabel(kDescriptionLabel), text);
}

}  // namespace vornlink
