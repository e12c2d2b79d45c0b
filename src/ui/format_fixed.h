// Numbers on screen and on the clipboard with "." whatever the locale.
#pragma once

#include <string>

namespace brenvo {

// Value with Decimals digits after the point ("%.*f" in the C locale);
// "nan" or "inf" for values that are no finite number.
std::string FormatFixed(double Value, int Decimals);

}  // namespace brenvo
