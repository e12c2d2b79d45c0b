#include "links/version.h"

#include "links/version_config.h"

namespace brenvo {

uint32_t GetFileVersionWord(bool major) {
  if (major) return (uint32_t{kVersionMajor} << 16) | kVersionMinor;
  return (uint32_t{kVersionRelease} << 16) | kVersionBuild;
}

std::string GetFileVersionText() {
  const uint32_t hi = GetFileVersionWord(true), lo = GetFileVersionWord(false);
  return std::to_string(hi >> 16) + "." + std::to_string(hi & 0xFFFF) + "." + std::to_string(lo >> 16) + "." +
         std::to_string(lo & 0xFFFF);
}

}  // namespace brenvo
