#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "files/data_folders.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

namespace fs = std::filesystem;

class DataFolders : public ::testing::Test {
 protected:
  void SetUp() override { SetAppDataRoot(tmp.Path().string()); }
  void TearDown() override { SetAppDataRoot(""); }
  testing::TempDir tmp;
};

TEST_F(DataFolders, LayoutUnderTheRoot) {
  const std::string root = tmp.Path().string() + "/";
  EXPECT_EQ(GetAppDataFolder(), root + "Quellan/");
  EXPECT_EQ(GetReferenceFolder(), root + "Quellan/Reference/");
  EXPECT_EQ(GetUserDataFolder(), root + "Quellan/UserData/");
  EXPECT_EQ(GetIniFileName(), root + "Quellan/Products/brenvo/brenvo.ini");
  EXPECT_EQ(GetSettingsFolder(), root + "Quellan/Products/brenvo/");
  EXPECT_TRUE(fs::is_directory(root + "Quellan/Reference"));
  EXPECT_TRUE(fs::is_directory(root + "Quellan/UserData"));
  EXPECT_TRUE(fs::is_directory(root + "Quellan/Products/brenvo"));
}

TEST_F(DataFolders, RecreatedAfterDeletion) {
  const std::string ref = GetReferenceFolder();
  fs::remove_all(tmp.Path() / "Quellan");
  EXPECT_FALSE(fs::exists(ref));
  EXPECT_EQ(GetReferenceFolder(), ref);
  EXPECT_TRUE(fs::is_directory(ref));
}

TEST_F(DataFolders, UnwritableRootIsNoError) {
  if (geteuid() == 0) GTEST_SKIP() << "root ignores permissions";
  chmod(tmp.Path().c_str(), 0500);
  std::string ref;
  EXPECT_NO_THROW(ref = GetReferenceFolder());
  EXPECT_EQ(ref, tmp.Path().string() + "/Quellan/Reference/");
  EXPECT_FALSE(fs::exists(ref));
  chmod(tmp.Path().c_str(), 0700);
}

TEST_F(DataFolders, ForceFolderOnAFileFails) {
  const auto file = tmp.Path() / "plain";
  { std::FILE* f = std::fopen(file.c_str(), "w"); std::fclose(f); }
  EXPECT_FALSE(ForceFolder(file.string()));
  EXPECT_FALSE(ForceFolder(file.string() + "/sub/"));
  EXPECT_FALSE(ForceFolder(""));
  EXPECT_TRUE(ForceFolder((tmp.Path() / "a/b/c/").string()));
}

// HOME decides the data root when nothing else does: unset, the password
// database's home stands in; pointing nowhere, nothing is made there.
TEST(DataFoldersHome, MissingHomeIsNeverMade) {
  testing::TempDir tmp;
  auto saved = [](const char* name) {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
  };
  const auto home = saved("HOME"), xdg = saved("XDG_DATA_HOME");
  unsetenv("XDG_DATA_HOME");
  const fs::path gone = tmp.Path() / "gone";
  setenv("HOME", gone.c_str(), 1);
  EXPECT_EQ(GetReferenceFolder(), gone.string() + "/.local/share/Quellan/Reference/");
  EXPECT_EQ(GetIniFileName(), gone.string() + "/.local/share/Quellan/Products/brenvo/brenvo.ini");
  EXPECT_FALSE(ForceFolder(gone.string() + "/x/"));
  EXPECT_FALSE(fs::exists(gone));
  unsetenv("HOME");
  const passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(GetHomeFolder(), pw->pw_dir);
  if (home) setenv("HOME", home->c_str(), 1);
  if (xdg) setenv("XDG_DATA_HOME", xdg->c_str(), 1);
}

}  // namespace
}  // namespace brenvo
