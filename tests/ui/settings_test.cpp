#include "ui/settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QTest>
#include <QWidget>
#include <filesystem>
#include <fstream>

#include "dsp/errors.h"
#include "files/data_folders.h"
#include "files/file_replace.h"
#include "files/ini_file.h"
#include "files/ini_text.h"
#include "support/temp_dir.h"
#include "ui/window_geometry.h"

namespace brenvo {
namespace {

using namespace std::string_literals;

class SettingsTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  TSettings Load(const std::string& text, const TSettingsLimits& limits = {}) {
    return LoadSettings(Write(text), TSettings{}, limits);
  }
  testing::TempDir tmp;
  std::string path = (tmp.Path() / "s.ini").string();
};

struct KeyCase {
  const char* Section;
  const char* Line;  // a value other than the default
  void (*Expect)(TSettings&);
  bool Written;
};

// Each key from its own section, into its own field; written ones come back.
TEST_F(SettingsTest, EveryKeyReadsIntoItsFieldAndWrittenOnesRoundTrip) {
  const KeyCase cases[] = {
      {"GUI", "Left=-30", [](TSettings& s) { s.Left = -30; }, true},
      {"GUI", "Top=40", [](TSettings& s) { s.Top = 40; }, true},
      {"GUI", "Width=800", [](TSettings& s) { s.Width = 800; }, true},
      {"GUI", "Height=700", [](TSettings& s) { s.Height = 700; }, true},
      {"GUI", "MeterVisible=0", [](TSettings& s) { s.MeterVisible = false; }, true},
      {"GUI", "WaterfallHeight=100", [](TSettings& s) { s.WaterfallHeight = 100; }, true},
      {"GUI", "Panel8Height=50", [](TSettings& s) { s.RawPanelHeight = 50; }, true},
      {"GUI", "Panel7Height=60", [](TSettings& s) { s.EnginePanelHeight = 60; }, true},
      {"GUI", "FontSize=12", [](TSettings& s) { s.FontSize = 12; }, true},
      {"Decoders", "Usb=1", [](TSettings& s) { s.Usb = true; }, true},
      {"Decoders", "AfcEnabled=0", [](TSettings& s) { s.AfcEnabled = false; }, true},
      {"Decoders", "HoppingEnabled=1", [](TSettings& s) { s.HoppingEnabled = true; }, true},
      {"Decoders", "Contest=No Such Contest", [](TSettings& s) { s.Contest = "No Such Contest"; }, true},
      {"Decoders", "DefaultHighTone=1500", [](TSettings& s) { s.DefaultHighTone = 1500; }, true},
      {"Decoders", "ExternalExe=/opt/engine", [](TSettings& s) { s.ExternalExe = "/opt/engine"; }, false},
      {"Audio", "DeviceIndex=2", [](TSettings& s) { s.DeviceIndex = 2; }, true},
      {"Audio", "RightChannel=1", [](TSettings& s) { s.RightChannel = true; }, true},
      {"Server", "Port=8000", [](TSettings& s) { s.Port = 8000; }, true},
      {"Debug", "DebugMode=1", [](TSettings& s) { s.DebugMode = s.ExpertMode = true; }, false},
      {"Debug", "ExpertMode=1", [](TSettings& s) { s.ExpertMode = true; }, false},
  };
  TSettingsLimits limits;
  limits.DeviceCount = 3;
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.Line);
    TSettings expected;
    c.Expect(expected);
    const TSettings loaded = Load(std::string("[") + c.Section + "]\n" + c.Line + "\n", limits);
    EXPECT_TRUE(loaded == expected);
    std::filesystem::remove(path);
    SaveSettings(path, loaded);
    EXPECT_TRUE(LoadSettings(path, TSettings{}, limits) == (c.Written ? loaded : TSettings{}));
  }
}

TEST_F(SettingsTest, NumberForms) {
  const std::pair<const char*, int32_t> ports[] = {
      {"$1F40", 8000}, {"0x1f40", 8000}, {"+8000", 8000}, {" 8000", 8000},
      {"8000x", 7500}, {"1.5", 7500},    {"", 7500},      {"$", 7500}, {"--5", 7500}, {"4294975296", 7500}};
  for (const auto& [text, port] : ports)
    EXPECT_EQ(Load(std::string("[Server]\nPort=") + text + "\n").Port, port) << text;
  EXPECT_TRUE(Load("[Decoders]\nUsb=-2\n").Usb);
  EXPECT_FALSE(Load("[Decoders]\nUsb=yes\n").Usb);
  EXPECT_EQ(ParseIniInteger("-0x10"), -16);
}

// Every bad value keeps the default or takes the nearest valid one, and the
// keys after it are still read.
TEST_F(SettingsTest, BadValues) {
  TSettingsLimits limits;
  limits.DeviceCount = 2;
  limits.Screens = {{100, 50, 1280, 1024}, {1380, 0, 800, 600}};
  auto load = [&](const std::string& gui, const std::string& rest) {
    return Load("[GUI]\n" + gui + "\n" + rest + "\n[Debug]\nDebugMode=1\n", limits);
  };
  TSettings s = load("Left=5000\nTop=-900\nWidth=10\nHeight=5\nWaterfallHeight=10\nPanel8Height=3\nPanel7Height=-1\n"
                     "FontSize=0",
                     "[Decoders]\nDefaultHighTone=100\n[Audio]\nDeviceIndex=2\n[Server]\nPort=70000");
  EXPECT_EQ(std::vector<int32_t>({s.Left, s.Top, s.Width, s.Height, s.WaterfallHeight, s.RawPanelHeight,
                                  s.EnginePanelHeight, s.FontSize, s.DefaultHighTone, s.DeviceIndex,
                                  s.Port}),
            std::vector<int32_t>({100, 50, 478, 589, 70, 30, 30, 10, 2295, 0, 7500}));
  EXPECT_TRUE(s.DebugMode);
  s = load("Left=2100\nTop=500\nWaterfallHeight=900\nFontSize=1000",
           "[Decoders]\nDefaultHighTone=2900\n[Audio]\nDeviceIndex=-1\n[Server]\nPort=0");
  EXPECT_EQ(std::vector<int32_t>({s.Left, s.Top, s.WaterfallHeight, s.FontSize, s.DefaultHighTone, s.DeviceIndex,
                                  s.Port}),
            std::vector<int32_t>({2100, 500, 224, 200, 2295, 0, 7500}));  // the corner on the second screen stays
  // Below the smallest usable size (the whole tool bar, readable text) the default stays; without
  // screens, what the window system cannot place or make is kept out too.
  TSettingsLimits usable;
  usable.MinWidth = 330;
  const std::tuple<const char*, int32_t TSettings::*, int32_t> sizes[] = {
      {"Width=-500", &TSettings::Width, 478}, {"Width=329", &TSettings::Width, 478},
      {"Width=330", &TSettings::Width, 330},  {"Height=-1", &TSettings::Height, 589},
      {"Height=221", &TSettings::Height, 589}, {"Height=222", &TSettings::Height, 222},
      {"FontSize=-5", &TSettings::FontSize, 10}, {"FontSize=5", &TSettings::FontSize, 10},
      {"FontSize=6", &TSettings::FontSize, 6}, {"Width=2147483647", &TSettings::Width, 32767},
      {"Height=32768", &TSettings::Height, 32767}, {"Panel8Height=2147483647", &TSettings::RawPanelHeight, 32767},
      {"Panel7Height=32767", &TSettings::EnginePanelHeight, 32767}, {"Left=-32768", &TSettings::Left, 0},
      {"Left=-32767", &TSettings::Left, -32767}, {"Top=32768", &TSettings::Top, 0},
      {"DefaultHighTone=-2147483648", &TSettings::DefaultHighTone, 2295}};
  for (const auto& [line, field, kept] : sizes)
    EXPECT_EQ(Load(std::string("[GUI]\n") + line + "\n", usable).*field, kept) << line;
  // The tones' bins must lie in 16 .. 239: 2806 Hz is the highest that fits, 352 Hz the lowest.
  for (const auto& [tone, kept] : {std::pair{2806, 2806}, {2807, 2295}, {352, 352}, {351, 2295}})
    EXPECT_EQ(Load("[Decoders]\nDefaultHighTone=" + std::to_string(tone) + "\n").DefaultHighTone, kept) << tone;
  EXPECT_EQ(Load("[GUI]\nLeft=2147483600\nWidth=2147483600\n", limits).Left, 100);
  s = Load("[GUI]\nWidth=100000\nHeight=2147483647\n", limits);  // no larger than the screens together
  EXPECT_EQ(std::vector<int32_t>({s.Width, s.Height}), std::vector<int32_t>({2080, 1074}));
}

// Another user's file: comments, unknown sections, the keys that are never
// written; a save changes only what changed.
TEST_F(SettingsTest, SaveKeepsEverythingItDoesNotWrite) {
  const std::string edited =
      "# mine\n[GUI]\nLeft = 12 \n[Decoders]\nExternalExe =  /opt/my engine/run.sh  \n[Debug]\nDebugMode=1\n"
      "ExpertMode=0\n[Friends]\nDL1ABC=yes\n; the end\n";
  const TSettings s = Load(edited);
  EXPECT_TRUE(s.ExpertMode);  // DebugMode turns it on
  SaveSettings(path, s);
  EXPECT_EQ(ReadFileBytes(path),
            "# mine\n[GUI]\nLeft = 12 \nTop=0\nWidth=478\nHeight=589\nMeterVisible=1\nWaterfallHeight=224\n"
            "Panel8Height=92\nPanel7Height=145\nFontSize=10\n[Decoders]\nExternalExe =  /opt/my engine/run.sh  \n"
            "Usb=0\nAfcEnabled=1\nHoppingEnabled=0\nContest=DX\nDefaultHighTone=2295\n[Debug]\nDebugMode=1\n"
            "ExpertMode=0\n[Friends]\nDL1ABC=yes\n; the end\n\n[Audio]\nDeviceIndex=0\nRightChannel=0\n\n"
            "[Server]\nPort=7500\n");
}

// Given what was loaded, a key changed since is written (a number, a
// Boolean, a text), and one that has not changed keeps its line as it stands,
// also one that did not read.
TEST_F(SettingsTest, SaveWritesWhatChangedSinceLoading) {
  const TSettings loaded =
      Load("[GUI]\nLeft = 12 \nFontSize=ten\n[Decoders]\nUsb = 1\nContest=DX\n[Server]\nPort= 8000\n");
  TSettings s = loaded;
  s.Port = 9000, s.Usb = false, s.Contest = "CQ-WW";
  SaveSettings(path, s, &loaded);
  const std::string saved = ReadFileBytes(path);
  for (const char* line : {"\nLeft = 12 \n", "\nFontSize=ten\n", "\nUsb=0\n", "\nContest=CQ-WW\n", "\nPort=9000\n"})
    EXPECT_NE(saved.find(line), std::string::npos) << line << " in " << saved;
  EXPECT_TRUE(LoadSettings(path, TSettings{}, {}) == s);
}

// What the reader sees the save sees: a byte-order mark before an unclosed
// header, a NUL byte, values that do not parse, quoted values. Every key is
// read, and saves of what was loaded keep the user's lines byte for byte,
// save after save.
TEST_F(SettingsTest, OddFilesReadAndSaveTheSameLines) {
  struct Case {
    std::string Text;
    void (*Expect)(TSettings&);
  };
  const Case cases[] = {
      {"\xEF\xBB\xBF[GUI\r\nLeft=100\r\nTop=100\r\n", [](TSettings& s) { s.Left = s.Top = 100; }},
      {"[GUI]\nLeft=100\nNote=a\0b\n[Decoders]\nUsb=1\nAfcEnabled=0\nExternalExe=/x\n"s,
       [](TSettings& s) { s.Left = 100, s.Usb = true, s.AfcEnabled = false, s.ExternalExe = "/x"; }},
      {"[Decoders]\nUsb=yes\n[Server]\nPort=abc\n[GUI]\nFontSize=ten\n", [](TSettings&) {}},
      {"[Decoders]\nContest=\"CQ WPX RTTY\"\nExternalExe='/opt/my engine/x'\n[Server]\nPort=\"8000\"\n",
       [](TSettings& s) { s.Contest = "CQ WPX RTTY", s.ExternalExe = "/opt/my engine/x", s.Port = 8000; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    TSettings expected;
    c.Expect(expected);
    const TSettings s = Load(c.Text);
    EXPECT_TRUE(s == expected);
    SaveSettings(path, s, &s);
    const std::string saved = ReadFileBytes(path);
    // The old lines, in order, among the missing keys the save added.
    std::size_t at = 0;
    for (const TIniLine& l : SplitIniLines(c.Text)) {
      at = saved.find(std::string(l.Text) + std::string(l.Break), at);
      ASSERT_NE(at, std::string::npos) << l.Text;
    }
    EXPECT_TRUE(LoadSettings(path, TSettings{}, {}) == expected);
    SaveSettings(path, s, &s);
    EXPECT_EQ(ReadFileBytes(path), saved);
  }
}

// A hundred runs of the program leave the window where it was.
TEST_F(SettingsTest, WindowGeometryComesBackUnchanged) {
  TSettings s;
  s.Left = 37, s.Top = 53, s.Width = 500, s.Height = 400;
  TSettingsLimits limits;
  limits.Screens = ScreenRects();
  for (int run = 0; run < 100; ++run) {
    QWidget window;
    ApplyWindowGeometry(window, s);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    StoreWindowGeometry(window, s);
    SaveSettings(path, s);
    s = LoadSettings(path, TSettings{}, limits);
  }
  EXPECT_EQ(std::vector<int32_t>({s.Left, s.Top, s.Width, s.Height}), std::vector<int32_t>({37, 53, 500, 400}));
}

// A named pipe, a link to a folder, a huge file, a link loop (all of them
// the test's own): read at once, refused with the reason, and never written
// over.
TEST_F(SettingsTest, RefusedFilesAreNeitherReadNorWritten) {
  namespace fs = std::filesystem;
  const fs::path folder = tmp.Path() / "folder";
  fs::create_directory(folder);
  const std::pair<std::function<void(const fs::path&)>, std::string> cases[] = {
      {[](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, "not a regular file"},
      {[&](const fs::path& p) { fs::create_symlink(folder, p); }, "not a regular file"},
      {[](const fs::path& p) { fs::create_symlink(p, p); }, "Too many levels of symbolic links"},
      {[](const fs::path& p) { std::ofstream(p) << std::string(kMaxIniFileBytes + 1, ';'); }, "larger than 16 MiB"},
  };
  for (const auto& [make, reason] : cases) {
    SCOPED_TRACE(reason);
    fs::remove(path);
    make(path);
    const auto before = fs::symlink_status(path).type();
    EXPECT_THAT([&] { LoadSettings(path, TSettings{}, {}); },
                ::testing::ThrowsMessage<EFileError>(
                    ::testing::StrEq("Cannot read the settings file " + path + ": " + reason)));
    EXPECT_THAT([&] { SaveSettings(path, TSettings{}); },
                ::testing::ThrowsMessage<EBrenvoError>(::testing::StrEq("Unable to write to " + path + ": " + reason)));
    EXPECT_EQ(fs::symlink_status(path).type(), before);
  }
  EXPECT_EQ(fs::file_size(path), kMaxIniFileBytes + 1);
}

TEST_F(SettingsTest, UnwritableFileGivesTheMessage) {
  const std::string inside = Write("a file, not a folder") + "/s.ini";
  EXPECT_THAT([&] { SaveSettings(inside, TSettings{}); },
              ::testing::ThrowsMessage<EBrenvoError>(
                  ::testing::StrEq("Unable to write to " + inside + ": Not a directory")));
}

TEST_F(SettingsTest, CommandLine) {
  SetAppDataRoot(tmp.Path().string());
  EXPECT_EQ(ResolveIniFileName({"PORT=1", "ini=/a/b c.ini", "INI=/other.ini"}), "/a/b c.ini");
  EXPECT_EQ(ResolveIniFileName({"INI=", "Ini=/x.ini"}), "/x.ini");
  EXPECT_EQ(ResolveIniFileName({"XINI=/x.ini"}), GetIniFileName());
  SetAppDataRoot("");
  EXPECT_EQ(ApplyPortParam({"PORT=8000", "port=9000", "PORT=0", "PORT=-5", "PORT=abc", "PORT=65536", "PORTX"}, 7500),
            9000);
  EXPECT_EQ(ApplyCaptionParam({"CAPTION=A", "x", "caption=B - c"}, "BRENVO 1.0"), "BRENVO 1.0 - A - B - c");
}

}  // namespace
}  // namespace brenvo
