#include "decoder/state_type.h"

namespace brenvo {

std::string_view StateTypeName(TStateType t) {
  static constexpr std::string_view kNames[kStateTypeCount] = {
      "ctSquelch",     "ctPunc",        "ctLetter",       "ctDigit",       "ctWhiteSpace",
      "ctExchange",    "ctCall",        "ctDe",           "ctCQ",          "ctCallStruC",
      "ctCallStruCS",  "ctCallStruCSS", "ctCallStruCP",   "ctCallStruCPS", "ctCallStruPC",
      "ctCallStruPCS", "ctCallPref",    "ctCallDig",      "CallLtr",       "ctCallSuf",
      "ctCallPort",    "ctExchangePatt", "ctExchangeOpt", "ctExchangeAlt", "ctExchangeRpt",
      "ctExchangeSep", "ctExchangeTxt", "ctWord",         "ctNone"};
  const int i = static_cast<int>(t);
  return i < kStateTypeCount ? kNames[i] : std::string_view();
}

}  // namespace brenvo
