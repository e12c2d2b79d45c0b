#include "ui/format_fixed.h"

#include <charconv>

namespace brenvo {

std::string FormatFixed(double value, int decimals) {
  // A double in fixed notation needs at most 309 digits before the point.
  if (decimals < 0) decimals = 0;
  if (decimals > 40) decimals = 40;
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}

}  // namespace brenvo
