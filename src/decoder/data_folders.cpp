#include "decoder/data_folders.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace brenvo {
namespace {

std::mutex g_rootMutex;
std::string g_rootOverride;

std::string WithSlash(std::string p) {
  if (p.empty() || p.back() != '/') p += '/';
  return p;
}

std::string DataRoot() {
  {
    std::lock_guard<std::mutex> lock(g_rootMutex);
    if (!g_rootOverride.empty()) return WithSlash(g_rootOverride);
  }
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg == '/') return WithSlash(xdg);  // relative values are ignored, as XDG says
  const char* home = std::getenv("HOME");
  return WithSlash(std::string(home && *home ? home : ".") + "/.local/share");
}

std::string ForcedSubFolder(const std::string& sub) {
  const std::string path = GetAppDataFolder() + sub;
  ForceFolder(path);
  return path;
}

}  // namespace

bool ForceFolder(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return std::filesystem::is_directory(path, ec);
}

void SetAppDataRoot(const std::string& root) {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  g_rootOverride = root;
}

std::string GetAppDataFolder() {
  const std::string root = DataRoot();
  ForceFolder(root);
  return root + "Quellan/";
}

std::string GetReferenceFolder() { return ForcedSubFolder("Reference/"); }

std::string GetUserDataFolder() { return ForcedSubFolder("UserData/"); }

std::string GetIniFileName() {
  const std::string folder = ForcedSubFolder(std::string("Products/") + kProgramName + "/");
  return folder + kProgramName + ".ini";
}

std::string GetSettingsFolder() {
  const std::string ini = GetIniFileName();
  return ini.substr(0, ini.rfind('/') + 1);
}

}  // namespace brenvo
