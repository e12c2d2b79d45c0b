// The program's own version, one source for every place that shows it (the
// window title, the about box, the JSON server's greeting): the CMake project
// version, major.minor.release.build.
#pragma once

#include <cstdint>
#include <string>

namespace brenvo {

// Major = true: major << 16 | minor; false: release << 16 | build.
uint32_t GetFileVersionWord(bool Major);
// "major.minor.release.build", e.g. "1.3.0.119".
std::string GetFileVersionText();

}  // namespace brenvo
