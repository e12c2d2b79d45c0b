#pragma once

namespace brenvo {

// The program's name: the window's title and every message box's.
inline constexpr const char* kAppTitle = "BRENVO";

}  // namespace brenvo
