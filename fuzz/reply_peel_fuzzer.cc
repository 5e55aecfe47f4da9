// Reply reduction, both exchanges' ways with and without peel. The input is
// the code spec, the text spec and the code list, each a line, then the reply.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/failure_text.h"
#include "exchange/reply_peel.h"
#include "exchange/result_list.h"

namespace {

// The next line of `*input`, which loses it and its line feed.
std::string_view TakeLine(std::string_view* input) {
  size_t end = input->find('\n');
  std::string_view line = input->substr(0, end);
  input->remove_prefix(end == std::string_view::npos ? input->size() : end + 1);
  return line;
}

void PeelBoth(const std::string& reply, std::string_view code_spec, std::string_view text_spec,
              const vornlink::ListItems& items, vornlink::PeelOptions options) {
  vornlink::LogPeelSwitch(options.exchange, options.peel ? "1" : "0");
  for (bool code : {true, false}) {
    try {
      std::string found = code ? vornlink::PeelCode(reply, code_spec, options)
                               : vornlink::PeelText(reply, text_spec, options);
      if (found.size() > reply.size()) std::abort();
      int match = vornlink::MatchList(found, items, vornlink::CodeList::kSuccess);
      if (match < 0 || match > 5 || (match > 0 && found != items[match - 1])) std::abort();
    } catch (const vornlink::FailureText&) {
      if (!options.peel) std::abort();  // only a peel can fail
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view code_spec = TakeLine(&input);
  std::string_view text_spec = TakeLine(&input);
  std::string_view list = TakeLine(&input);

  vornlink::ListItems items = vornlink::SplitList(list, vornlink::CodeList::kSuccess);
  std::string reply = vornlink::NormaliseReply(input);
  for (auto exchange :
       {vornlink::ExchangeKind::kForwardTransaction, vornlink::ExchangeKind::kJobValidation}) {
    PeelBoth(reply, code_spec, text_spec, items, {exchange, false});
    PeelBoth(reply, code_spec, text_spec, items, {exchange, true});
  }
  vornlink::NamespacePrefix(reply, code_spec);
  vornlink::CutToElement(reply, text_spec);
  return 0;
}
