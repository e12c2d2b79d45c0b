// Kinds of message-model states; the first nine are the word kinds that
// corrected characters carry.
#pragma once

#include <cstdint>
#include <string_view>

namespace brenvo {

// Ordinals 0 .. 28, in this order; stored in one byte.
enum TStateType : uint8_t {
  ctSquelch,
  ctPunc,
  ctLetter,
  ctDigit,
  ctWhiteSpace,
  ctExchange,
  ctCall,
  ctDe,
  ctCQ,
  ctCallStruC,
  ctCallStruCS,
  ctCallStruCSS,
  ctCallStruCP,
  ctCallStruCPS,
  ctCallStruPC,
  ctCallStruPCS,
  ctCallPref,
  ctCallDig,
  CallLtr,  // the one member without the ct prefix
  ctCallSuf,
  ctCallPort,
  ctExchangePatt,
  ctExchangeOpt,
  ctExchangeAlt,
  ctExchangeRpt,
  ctExchangeSep,
  ctExchangeTxt,
  ctWord,
  ctNone,
};

inline constexpr int kStateTypeCount = 29;

// The subrange ctSquelch .. ctCQ: the kind of word a corrected character
// belongs to (TCharInfo::ChType).
using TWordType = TStateType;
inline constexpr TWordType kFirstWordType = ctSquelch;
inline constexpr TWordType kLastWordType = ctCQ;
inline constexpr int kWordTypeCount = 9;

constexpr bool IsWordType(TStateType t) { return t <= kLastWordType; }

// The member's name as written above ("ctCall", "CallLtr"); "" for a value
// outside the enumeration. Used where the name goes on the wire or on screen.
std::string_view StateTypeName(TStateType t);

}  // namespace brenvo
