#include "files/data_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

namespace brenvo {
namespace {

std::mutex g_rootMutex;
std::string g_rootOverride;

std::string WithSlash(std::string p) {
  if (p.empty() || p.back() != '/') p += '/';
  return p;
}

// The data root; when it lies in a home folder that does not exist (or the
// user has none), nothing is made there.
struct TDataRoot {
  std::string Path;
  bool HomeMissing = false;
  std::string Home;
};

TDataRoot DataRoot() {
  {
    std::lock_guard<std::mutex> lock(g_rootMutex);
    if (!g_rootOverride.empty()) return {WithSlash(g_rootOverride), false, ""};
  }
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg == '/') return {WithSlash(xdg), false, ""};  // relative values are ignored, as XDG says
  const std::string home = GetHomeFolder();
  std::error_code ec;
  const bool missing = home.empty() || !std::filesystem::is_directory(home, ec);
  return {WithSlash(home + "/.local/share"), missing, home};
}

// Made once, not for every folder asked for.
void SayHomeMissing(const std::string& home) {
  static std::once_flag once;
  std::call_once(once, [&] {
    if (home.empty())
      std::fprintf(stderr, "brenvo: the user has no home folder: the data folders are not made\n");
    else
      std::fprintf(stderr, "brenvo: the home folder \"%s\" does not exist: the data folders are not made\n",
                   home.c_str());
  });
}

std::string ForcedSubFolder(const std::string& sub) {
  const std::string path = GetAppDataFolder() + sub;
  ForceFolder(path);
  return path;
}

}  // namespace

std::string GetHomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return "";
}

bool ForceFolder(const std::string& path) {
  if (path.empty()) return false;
  // A home folder that does not exist (a service account's, a mistyped HOME)
  // is not made by us, nor anything below it.
  const TDataRoot root = DataRoot();
  auto under = [&](const std::string& folder) { return path.compare(0, folder.size(), folder) == 0; };
  if (root.HomeMissing && (under(root.Path) || (!root.Home.empty() && under(WithSlash(root.Home))))) {
    SayHomeMissing(root.Home);
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return std::filesystem::is_directory(path, ec);
}

void SetAppDataRoot(const std::string& root) {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  g_rootOverride = root;
}

std::string GetAppDataFolder() {
  const std::string root = DataRoot().Path;
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
