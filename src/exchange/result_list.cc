#include "exchange/result_list.h"

#include "exchange/log_lines.h"
#include "settings/read_setting.h"

namespace vornlink {
namespace {

std::string ItemLabel(CodeList which, size_t number) {
  const char* head = which == CodeList::kSuccess      ? "      Success ["
                     : which == CodeList::kRetryLater ? "        Retry ["
                                                      : "  Valid result[";
  return head + std::to_string(number) + "] from .xml";
}

const char* ClassWord(CodeList which) {
  switch (which) {
    case CodeList::kSuccess:
      return "SUCCESS";
    case CodeList::kRetryLater:
      return "RETRYLATER";
    default:
      return "VALID";
  }
}

}  // namespace

ListItems SplitList(std::string_view list, CodeList which) {
  ListItems items;
  std::string_view rest = list;
  for (size_t i = 0; i < kListItemCount; ++i) {
    size_t comma = rest.find(',');
    const bool more = comma != std::string_view::npos && comma > 0;
    items[i] = std::string(more ? rest.substr(0, comma) : rest);
    LogBracketed('s', ItemLabel(which, i + 1), items[i]);
    if (!more) break;
    rest.remove_prefix(comma + 1);
  }
  return items;
}

int MatchList(std::string_view code, const ListItems& items, CodeList which) {
  for (size_t i = 0; i < kListItemCount; ++i) {
    if (items[i].empty()) continue;
    if (IsFlagEnabled('r')) {
      LogWriteLine('r', "Compare  reply[" + std::string(code) + "] with spec[" + items[i] +
                            "] -> (" + ClassWord(which) + " spec index[" + std::to_string(i + 1) +
                            "])");
    }
    if (code == items[i]) return static_cast<int>(i + 1);
  }
  return 0;
}

ResultSettings ReadResultSettings(ExchangeKind exchange) {
  const bool forward = exchange == ExchangeKind::kForwardTransaction;
  const std::string root = forward ? "KMR/ForwardTransactionResult/" : "KMR/IsJobValidResult/";
  ResultSettings settings;
  settings.code_spec = ReadDriverSetting(root + "Result");
  LogBracketed('s', "           Result from .xml", settings.code_spec);
  settings.text_spec = ReadDriverSetting(root + "Description");
  LogBracketed('s', "      Description from .xml", settings.text_spec);
  settings.first_list = ReadDriverSetting(root + (forward ? "SuccessResult" : "ValidResult"));
  LogBracketed('s', "  Valid result(s) from .xml", settings.first_list);
  if (forward) {
    settings.second_list = ReadDriverSetting(root + "RetryResult");
    LogBracketed('s', "  Retry result(s) from .xml", settings.second_list);
  }
  return settings;
}

}  // namespace vornlink
