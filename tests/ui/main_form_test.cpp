// The main window: its panels for each mode, the marker strip against the
// waterfall, start-up without a soundcard, blocks from the capture thread,
// and failing handlers.
#include "ui/main_form.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <Qsci/qsciscintilla.h>
#include <QSplitter>
#include <QTest>
#include <QToolButton>
#include <cmath>
#include <fstream>
#include <set>
#include <thread>

#include "audio/mme_audio_stream.h"
#include "audio/qyx_wav_file.h"
#include "decoder/message_hmm.h"
#include "decoder/message_statistics.h"
#include "files/file_replace.h"
#include "links/json_server.h"
#include "receiver/decoding_road.h"
#include "receiver/receiver_test_env.h"
#include "support/rtty_synth.h"
#include "support/temp_dir.h"
#include "ui/calls_frame.h"
#include "ui/image_list.h"
#include "ui/marker_strip.h"
#include "ui/message_text_frame.h"
#include "ui/meter_frame.h"
#include "ui/quick_waterfall.h"
#include "ui/settings.h"
#include "ui/test_prompts.h"
#include "ui/text_view_points.h"

namespace brenvo {
namespace {

using namespace std::chrono_literals;

// The marker strip's row beside the waterfall's row of `bin` (bin 16 on the
// waterfall's bottom row), from the two controls' places on the screen.
int StripRowOf(TMainForm& f, int bin) {
  const int row = TMainForm::kWaterfallHeight - 1 - (bin - 16);
  return f.MarkerStrip->mapFrom(&f, f.Waterfall->mapTo(&f, QPoint(0, row))).y();
}

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureDecoderGlobals();
    // A capture device that no ALSA configuration knows.
    SetWaveDevices({{"brenvo_no_such_device", "Missing"}}, {});
    Options.Prompts = &Prompts;
  }
  void TearDown() override { SetWaveDevices({}, {}); }

  std::unique_ptr<TMainForm> Show() {
    auto f = std::make_unique<TMainForm>(Options);
    f->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(f.get()));
    return f;
  }
  // Two capture devices, a contest file with the contest CQ-WW and Settings
  // as the settings file, all in Dir.
  void UseFiles(const testing::TempDir& Dir, const std::string& Settings) {
    SetWaveDevices({{"brenvo_no_such_device", "Missing"}, {"brenvo_none_either", "Missing too"}}, {});
    Options.ContestFile = (Dir.Path() / "Contests.ini").string();
    std::ofstream(Options.ContestFile) << "[CQ-WW]\nCQ1=TEST|1\n";
    Options.SettingsFile = (Dir.Path() / "brenvo.ini").string();
    std::ofstream(Options.SettingsFile) << Settings;
  }
  // Rows of a grab of the marker strip that hold the dotted default-tone grey.
  static std::set<int> DottedRows(const QImage& strip) {
    std::set<int> rows;
    for (int y = 0; y < strip.height(); ++y) {
      int n = 0;
      for (int x = TMarkerStrip::kScaleWidth + 20; x < strip.width(); ++x)
        n += strip.pixel(x, y) == TMarkerStrip::kDefaultTone.rgb();
      if (n >= 10) rows.insert(y);
    }
    return rows;
  }

  testing::TTestPrompts Prompts;
  TMainFormOptions Options;
};

// No mode needs a capture device to start, nor shows a box for the missing
// one.
TEST_F(MainFormTest, PanelsFollowTheModes) {
  const struct {
    const char* Name;
    bool Debug, Expert;
    const char* Exe;
    const char* Caption;
  } cases[] = {{"Plain", false, false, "", ""},
               {"DebugExpert", true, true, "", ""},
               {"Engine", false, false, "/opt/engines/MMTTY.EXE", "MMTTY"},
               {"DebugEngine", true, false, "/usr/bin/minimodem", "minimodem"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Options.DebugMode = c.Debug;
    Options.ExpertMode = c.Expert;
    Options.ExternalExe = c.Exe;
    ::testing::internal::CaptureStderr();
    auto f = Show();
    // Said once, on standard error: which device and what to do.
    const std::string err = ::testing::internal::GetCapturedStderr();
    const std::string said = "brenvo: Cannot open the capture device \"brenvo_no_such_device\": ";
    ASSERT_NE(err.find(said), std::string::npos) << err;
    EXPECT_EQ(err.find(said, err.find(said) + 1), std::string::npos) << err;
    const bool engine = *c.Exe != 0;
    EXPECT_EQ(f->RawPanel->isVisible(), c.Debug);
    EXPECT_EQ(f->RawSplitter()->isVisible(), c.Debug);
    EXPECT_EQ(f->Road().DebugMode, c.Debug);
    EXPECT_EQ(f->EnginePanel->isVisible(), engine);
    EXPECT_EQ(f->EngineSplitter()->isVisible(), engine);
    EXPECT_EQ(f->SaveAudioButton->isVisible(), c.Expert);
    EXPECT_EQ(f->PlayBackButton->isVisible(), c.Expert);
    EXPECT_EQ(f->EngineNameLabel->text().toStdString(), c.Caption);
    // The engine's panel is the lowest, below the raw view when that shows.
    for (QWidget* w : {f->WaterfallPanel, f->MainPanel, f->RawPanel})
      EXPECT_TRUE(!engine || !w->isVisible() || w->geometry().bottom() < f->EnginePanel->geometry().top())
          << w->objectName().toStdString();
    // The selected channel's circle (lime: active, fresh) only in expert mode.
    const QImage strip = f->MarkerStrip->grab().toImage();
    const int y = StripRowOf(*f, f->Road().Chans.Selected()->MarkBin());
    EXPECT_EQ(strip.pixel(3, y) == QColor(0x00, 0xFF, 0x00).rgb(), c.Expert);
    QTest::qWait(10);
    EXPECT_FALSE(f->Mme().IsRunning());
    EXPECT_FALSE(f->SoundcardButton->isChecked());
    EXPECT_TRUE(Prompts.Errors.empty());
  }
}

TEST_F(MainFormTest, StripRowsFaceTheWaterfallRows) {
  const struct {
    int WaterfallPanelHeight;  // 0: the panel's tallest
    int32_t HighTone;  // Hz, the default tones' upper one
  } cases[] = {{70, 2295}, {100, 2295}, {0, 2295}, {130, 1000}, {170, 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.WaterfallPanelHeight << " px, " << c.HighTone << " Hz");
    auto f = Show();
    // With the meter collapsed the panel's least height is the design's 70 px.
    f->Meter->ShowMeter(false);
    QTest::qWait(10);
    auto* splitter = qobject_cast<QSplitter*>(f->WaterfallPanel->parentWidget());
    ASSERT_NE(splitter, nullptr);
    const int wanted = c.WaterfallPanelHeight ? c.WaterfallPanelHeight : f->WaterfallPanel->maximumHeight();
    splitter->setSizes({wanted, 10000});
    QTest::qWait(1);
    ASSERT_EQ(f->WaterfallPanel->height(), wanted);
    TRttyChannels& chans = f->Road().Chans;
    chans.DefaultHighTone = c.HighTone;
    f->WaterfallViewportResize();
    const int mark = chans.DefaultMarkBin(), space = chans.DefaultSpaceBin();
    const int h3 = f->WaterfallViewport->height();
    const QRect wf = f->Waterfall->geometry();
    // At its tallest the panel holds the whole waterfall, bin 16 included.
    if (c.WaterfallPanelHeight == 0) {
      EXPECT_GE(h3, TMainForm::kWaterfallHeight);
      EXPECT_EQ(wf.top(), 0);
    }
    // The default tones' centre row in the middle, unless that would leave a
    // gap above or below the waterfall.
    const int centreRow = wf.top() + TMainForm::kWaterfallHeight - 1 - ((mark + space) / 2 - 16);
    EXPECT_TRUE(std::abs(centreRow - h3 / 2) <= 1 || wf.top() == 0 || wf.bottom() == h3 - 1)
        << centreRow << " " << h3 << " " << wf.top();
    EXPECT_LE(wf.top(), 0);
    EXPECT_GE(wf.bottom(), h3 - 1);
    std::set<int> expected;
    for (int bin : {mark, space}) {
      const int y = StripRowOf(*f, bin);
      if (y >= 0 && y < f->MarkerStrip->height()) expected.insert(y);
    }
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(DottedRows(f->MarkerStrip->grab().toImage()), expected);
  }
}

TEST_F(MainFormTest, ABlockPushesOneColumnWhateverTheChannels) {
  auto f = Show();
  for (std::size_t channels : {1u, 2u}) {
    const int64_t before = f->ColumnsPushed();
    f->AudioDataArrived(TDataBufferF(channels, TSingleArray(TDecodingRoad::kBlockFrames, 1000.0f)));
    EXPECT_EQ(f->ColumnsPushed(), before + 1) << channels;
  }
}

TEST_F(MainFormTest, CaptureBlocksRunOnTheWindowsThreadAndStopWithIt) {
  testing::TempDir dir;
  std::ofstream(dir.Path() / "in.raw", std::ios::binary) << std::string(128 * 4 * 40, '\0');
  Options.AlsaConfig = "pcm.cap { type file slave.pcm { type null } file \"" + (dir.Path() / "captured.raw").string() +
                       "\" infile \"" + (dir.Path() / "in.raw").string() + "\" format \"raw\" }\n";
  SetWaveDevices({{"cap", "Test capture"}}, {});
  auto f = std::make_unique<TMainForm>(Options);
  ASSERT_TRUE(f->Mme().IsRunning());
  EXPECT_EQ(f->Road().Jobs(), 1);  // and the channels decode on it alone, as the README says
  // Without the event loop nothing is decoded: the capture thread only queues.
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(f->ColumnsPushed(), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return f->ColumnsPushed() >= 20; }, 10000));
  EXPECT_TRUE(f->SoundcardButton->isChecked());
  // Blocks still queued when the window goes never run on freed objects.
  std::this_thread::sleep_for(100ms);
  f.reset();
  QTest::qWait(20);
  EXPECT_TRUE(Prompts.Errors.empty());
}

TEST_F(MainFormTest, AFailingHandlerShowsOneBoxAtATimeAndGoesOn) {
  auto f = Show();
  auto failBlocks = [&](int n) {
    for (int i = 0; i < n; ++i) f->Dispatcher().Post(this, [&] { f->AudioDataArrived(TDataBufferF{}); });
  };
  int nestedRuns = 0;
  Prompts.WhileShowing = [&] {
    // Blocks keep failing while the box is up: no second box.
    if (nestedRuns++ > 0) return;
    failBlocks(3);
    QTest::qWait(20);
    EXPECT_EQ(Prompts.Errors.size(), 1u);
  };
  failBlocks(3);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Prompts.Errors.empty(); }, 5000));
  QTest::qWait(20);
  ASSERT_EQ(Prompts.Errors.size(), 1u);
  EXPECT_EQ(Prompts.Errors[0], "BRENVO: Range check error");
  // Once it is closed and a block has gone through, the next failure gets
  // a box of its own.
  f->Dispatcher().Post(this, [] {});
  failBlocks(1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Prompts.Errors.size() == 2; }, 5000));
}

TEST_F(MainFormTest, ButtonsFollowTheState) {
  auto f = Show();
  for (bool flip : {false, true}) {
    f->Road().Chans.SetUsb(flip);
    f->Road().Chans.SetAfcEnabled(!flip);
    f->Road().HoppingEnabled = flip;
    f->ApplicationIdle();
    EXPECT_EQ(f->SidebandButton->isChecked(), flip);
    EXPECT_EQ(f->AfcButton->isChecked(), !flip);
    EXPECT_EQ(f->AutoQsxButton->isChecked(), flip);
    EXPECT_TRUE(f->SmartDecodingButton->isChecked());
    EXPECT_FALSE(f->ContestButton->isChecked());
  }
}

// Without an icon theme every button still shows a picture of its own, and
// the program its icon.
TEST_F(MainFormTest, EveryButtonShowsAPicture) {
  auto f = Show();
  for (QToolButton* b : {f->SoundcardButton, f->SidebandButton, f->AfcButton, f->AutoQsxButton,
                         f->SmartDecodingButton, f->ContestButton, f->ClearButton, f->HelpButton,
                         f->SaveAudioButton, f->PlayBackButton}) {
    const QImage img = b->icon().pixmap(TImageList::kToolImageSize).toImage();
    int opaque = 0;
    std::set<QRgb> colours;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        if (qAlpha(img.pixel(x, y)) > 128) {
          ++opaque;
          colours.insert(img.pixel(x, y));
        }
    EXPECT_GT(opaque, 30) << b->objectName().toStdString();
    EXPECT_GT(colours.size(), 1u) << b->objectName().toStdString();
  }
  const QPixmap dial = TImageList::MeterDial();
  EXPECT_EQ(dial.size(), QSize(125, 41));
  // The scale's arc crosses the middle column above the background.
  EXPECT_NE(dial.toImage().pixel(61, 13), dial.toImage().pixel(61, 40));
  // The program's icon: its mark and space traces on the waterfall.
  const QImage icon = TImageList::ProgramIcon().pixmap(64).toImage();
  ASSERT_EQ(icon.size(), QSize(64, 64));
  EXPECT_EQ(icon.pixel(10, 22), qRgb(0xFF, 0xFF, 0x00));
  EXPECT_EQ(icon.pixel(20, 38), qRgb(0xFF, 0x60, 0x00));
}

// Every key of a settings file reaches the window and comes back at close:
// values other than the defaults, each read into the state it sets.
TEST_F(MainFormTest, EveryKeyRoundTripsThroughTheWindow) {
  testing::TempDir dir;
  UseFiles(dir,
           "[GUI]\nLeft=30\nTop=40\nWidth=400\nHeight=450\nMeterVisible=0\nWaterfallHeight=100\n"
           "Panel8Height=60\nPanel7Height=70\nFontSize=12\n[Decoders]\nUsb=1\nAfcEnabled=0\nHoppingEnabled=1\n"
           "Contest=CQ-WW\nDefaultHighTone=2000\nExternalExe=/no/such/engine\n[Audio]\nDeviceIndex=1\n"
           "RightChannel=1\n[Server]\nPort=7611\n[Debug]\nDebugMode=1\n");
  TSettingsLimits limits;
  limits.DeviceCount = 2;
  const TSettings loaded = LoadSettings(Options.SettingsFile, TSettings{}, limits);
  {
    auto f = Show();
    const QList<int> sizes = f->findChild<QSplitter*>()->sizes();
    ASSERT_EQ(sizes.size(), 4);
    const TRttyChannels& chans = f->Road().Chans;
    EXPECT_EQ(QRect(f->pos(), f->size()), QRect(30, 40, 400, 450));  // the frame at Left, Top
    EXPECT_FALSE(f->Meter->IsMeterShowing());
    EXPECT_EQ(std::vector<int>({sizes[0], sizes[2], sizes[3]}), std::vector<int>({100, 60, 70}));
    EXPECT_EQ(f->RawView->FontSize(), 12);
    EXPECT_TRUE(chans.Usb());
    EXPECT_FALSE(chans.AfcEnabled());
    EXPECT_TRUE(f->Road().HoppingEnabled);
    EXPECT_EQ(MessageStatistics()->ContestName, "CQ-WW");
    EXPECT_EQ(chans.DefaultHighTone, 2000);
    EXPECT_EQ(f->EngineNameLabel->text(), "engine");
    EXPECT_EQ(f->Mme().InputDevice().Index, 1);
    EXPECT_TRUE(f->Road().RightChannel);
    EXPECT_EQ(f->Srv().Port(), 7611);
    EXPECT_TRUE(f->DebugMode());
    f->close();
  }
  SetMessageContestFromFile("DX", Options.ContestFile);
  EXPECT_TRUE(LoadSettings(Options.SettingsFile, TSettings{}, limits) == loaded);
}

// A settings file that a user already has, as the program writes it (every
// key in its place, none at its default) with the keys that only the user
// writes: each value reaches the window, and the file comes back at close
// byte for byte.
TEST_F(MainFormTest, SettingsFileAsWrittenIsReadAndKeptByteForByte) {
  const std::string text =
      "[GUI]\nLeft=25\nTop=35\nWidth=420\nHeight=470\nMeterVisible=0\nWaterfallHeight=110\nPanel8Height=65\n"
      "Panel7Height=75\nFontSize=11\n\n[Decoders]\nUsb=1\nAfcEnabled=0\nHoppingEnabled=1\nContest=CQ-WW\n"
      "DefaultHighTone=2000\nExternalExe=/no/such/engine\n\n[Audio]\nDeviceIndex=1\nRightChannel=1\n\n"
      "[Server]\nPort=7612\n\n[Debug]\nDebugMode=1\nExpertMode=1\n";
  testing::TempDir dir;
  UseFiles(dir, text);
  {
    auto f = Show();
    const QList<int> sizes = f->findChild<QSplitter*>()->sizes();
    ASSERT_EQ(sizes.size(), 4);
    const TRttyChannels& chans = f->Road().Chans;
    EXPECT_EQ(QRect(f->pos(), f->size()), QRect(25, 35, 420, 470));
    EXPECT_FALSE(f->Meter->IsMeterShowing());
    // The waterfall, raw text and engine panels.
    EXPECT_EQ(std::vector<int>({sizes[0], sizes[2], sizes[3]}), std::vector<int>({110, 65, 75}));
    for (TMessageTextFrame* v : {f->MainView, f->RawView, f->EngineView})
      EXPECT_EQ(v->FontSize(), 11);
    EXPECT_EQ(std::vector<bool>({chans.Usb(), chans.AfcEnabled(), f->Road().HoppingEnabled, f->Road().RightChannel}),
              std::vector<bool>({true, false, true, true}));
    EXPECT_EQ(MessageStatistics()->ContestName, "CQ-WW");
    EXPECT_EQ(chans.DefaultHighTone, 2000);
    EXPECT_EQ(f->EngineNameLabel->text(), "engine");
    EXPECT_EQ(f->Mme().InputDevice().Index, 1);
    EXPECT_EQ(f->Srv().Port(), 7612);
    EXPECT_TRUE(f->DebugMode() && f->ExpertMode());
    f->close();
  }
  SetMessageContestFromFile("DX", Options.ContestFile);
  EXPECT_EQ(ReadFileBytes(Options.SettingsFile), text);
}

// Sizes below the smallest usable one keep the window's own; at its least
// the window still shows the whole tool bar, expert buttons included.
TEST_F(MainFormTest, SizesBelowTheUsableKeepTheDefaults) {
  testing::TempDir dir;
  Options.SettingsFile = (dir.Path() / "brenvo.ini").string();
  std::ofstream(Options.SettingsFile) << "[GUI]\nWidth=-500\nHeight=-1\nFontSize=-5\n[Debug]\nExpertMode=1\n";
  auto f = Show();
  EXPECT_EQ(f->size(), QSize(TMainForm::kClientWidth, TMainForm::kClientHeight));
  EXPECT_EQ(f->MainView->FontSize(), 10);
  f->resize(1, 1);
  QTest::qWait(10);
  // Every button at its full width, none over the next or past the edge.
  int right = 0;
  for (QToolButton* b : {f->SoundcardButton, f->SidebandButton, f->AfcButton, f->AutoQsxButton,
                         f->SmartDecodingButton, f->ContestButton, f->ClearButton, f->HelpButton,
                         f->SaveAudioButton, f->PlayBackButton}) {
    const QRect r(b->mapTo(f.get(), QPoint(0, 0)), b->size());
    EXPECT_GE(r.left(), right) << b->objectName().toStdString();
    right = r.left() + r.width();
  }
  EXPECT_LE(right, f->width());
  f->close();
}

// Every integer key, and PORT=, at the ends of the 32-bit range and beside
// 0: the window starts (both bottom panels laid out) without a message,
// holds each value in its range and saves at close. The sanitizer build
// stops at any overflow on the way.
TEST_F(MainFormTest, AnyIntegerSettingIsHeldInItsRange) {
  const char* const keys[] = {
      "GUI]\nLeft", "GUI]\nTop", "GUI]\nWidth", "GUI]\nHeight", "GUI]\nMeterVisible", "GUI]\nWaterfallHeight",
      "GUI]\nPanel8Height", "GUI]\nPanel7Height", "GUI]\nFontSize", "Decoders]\nUsb", "Decoders]\nAfcEnabled",
      "Decoders]\nHoppingEnabled", "Decoders]\nDefaultHighTone", "Audio]\nDeviceIndex", "Audio]\nRightChannel",
      "Server]\nPort", "Debug]\nDebugMode", "Debug]\nExpertMode"};
  testing::TempDir dir;
  for (const int64_t v : {int64_t{INT32_MIN}, int64_t{INT32_MIN} + 1, int64_t{-1}, int64_t{0},
                          int64_t{INT32_MAX} - 1, int64_t{INT32_MAX}})
    for (const char* key : keys) {
      const std::string line = "[" + std::string(key) + "=" + std::to_string(v) + "\n";
      SCOPED_TRACE(line);
      UseFiles(dir, line + "[Decoders]\nExternalExe=/no/such/engine\n[Debug]\nDebugMode=1\n");
      Options.Params = {"PORT=" + std::to_string(v)};
      auto f = Show();
      const TRttyChannels& chans = f->Road().Chans;
      EXPECT_TRUE(f->geometry().intersects(f->screen()->availableGeometry())) << f->geometry().x();
      EXPECT_TRUE(f->MainView->FontSize() >= 6 && f->MainView->FontSize() <= 200);
      for (int bin : {chans.DefaultMarkBin(), chans.DefaultSpaceBin()})
        EXPECT_TRUE(bin >= TRttyChannels::kMinMarkBin && bin <= chans.FftSize() - 17) << bin;
      EXPECT_TRUE(f->Mme().InputDevice().Index == 0 || f->Mme().InputDevice().Index == 1);
      EXPECT_TRUE(f->Srv().Port() >= 1 && f->Srv().Port() <= 65535);
      f->close();
      EXPECT_NE(ReadFileBytes(Options.SettingsFile).find("\nContest=DX\n"), std::string::npos);
      EXPECT_TRUE(Prompts.Errors.empty());
    }
}

// At its least, at the smallest font and a large one, every panel shows what
// it must: the whole meter with a few calls below it, a whole line in each
// text view, the engine's whole status, and the window all its panels.
TEST_F(MainFormTest, AtItsLeastEveryPanelShowsWhatItMust) {
  for (const int font : {6, 20}) {
    SCOPED_TRACE(font);
    testing::TempDir dir;
    const std::string exe = (dir.Path() / std::string(60, 'x') / "engine.sh").string();
    UseFiles(dir, "[GUI]\nFontSize=" + std::to_string(font) + "\n[Decoders]\nExternalExe=" + exe +
                      "\n[Debug]\nDebugMode=1\n");
    auto f = Show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f->EngineView->StatusText().isEmpty(); }, 5000));
    // Twice: the first resize may change what the panels need (the status
    // wraps anew), and so the least size.
    for (int i = 0; i < 2; ++i) {
      f->resize(1, 1);
      QTest::qWait(20);
    }
    EXPECT_EQ(f->size(), f->minimumSize());
    const QRect meter = f->Meter->geometry(), calls = f->CallsList->geometry();
    EXPECT_EQ(meter.height(), TMeterFrame::kOpenHeight);
    EXPECT_LT(meter.bottom(), calls.top());
    EXPECT_TRUE(f->MeterAndCallsPanel->contentsRect().contains(meter | calls));
    const QPlainTextEdit& list = *f->CallsList->ListEdit();
    EXPECT_GE(list.viewport()->height(), TCallsFrame::kMinLines * QFontMetrics(list.font()).lineSpacing());
    // A whole line in sight, nothing of it cut by the panel or the window.
    for (const TMessageTextFrame* v : {f->MainView, f->RawView}) {
      const QWidget* text = v->Syn()->viewport();
      EXPECT_GE(v->LinesInWindow(), 1) << v->objectName().toStdString();
      EXPECT_EQ(text->visibleRegion().boundingRect().height(), text->height()) << v->objectName().toStdString();
    }
    EXPECT_TRUE(StatusFits(*f->EngineView));
    const QLabel& status = *f->EngineView->StatusLabel();
    EXPECT_EQ(status.visibleRegion().boundingRect().height(), status.height());
    EXPECT_TRUE(status.text().endsWith(": not found")) << status.text().toStdString();
    f->close();
  }
}

// The settings file shapes the window at creation and gets the state back at
// close: the [Debug] keys and ExternalExe only read, PORT= kept in the file.
TEST_F(MainFormTest, SettingsFileAndParameters) {
  testing::TempDir dir;
  const std::string ini = (dir.Path() / "brenvo.ini").string();
  std::ofstream(ini) <<
      "[GUI]\nFontSize=14\n[Decoders]\nExternalExe=/opt/x/engine.sh\nHoppingEnabled=1\n[Debug]\nDebugMode=1\n";
  Options.SettingsFile = ini;
  Options.Params = {"PORT=0", "port=8123", "CAPTION=A", "caption=B"};
  {
    auto f = Show();
    EXPECT_TRUE(f->DebugMode());
    EXPECT_TRUE(f->ExpertMode());
    EXPECT_TRUE(f->RawPanel->isVisible());
    EXPECT_TRUE(f->PlayBackButton->isVisible());
    EXPECT_EQ(f->EngineNameLabel->text(), "engine");
    // No such program: the engine's view says so.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return f->EngineView->StatusText() == "Not Connected: /opt/x/engine.sh: not found"; }, 5000))
        << f->EngineView->StatusText().toStdString();
    EXPECT_TRUE(f->Road().HoppingEnabled);
    EXPECT_EQ(f->EngineView->FontSize(), 14);
    EXPECT_EQ(f->Srv().Port(), 8123);
    EXPECT_TRUE(f->windowTitle().startsWith("BRENVO "));
    EXPECT_TRUE(f->windowTitle().endsWith(" - A - B")) << f->windowTitle().toStdString();
    f->close();
  }
  const std::string text = ReadFileBytes(ini);
  for (const char* line : {"Port=8123", "HoppingEnabled=1", "ExternalExe=/opt/x/engine.sh\n", "[Debug]\nDebugMode=1\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in " << text;
}

// A client of the JSON port in a thread of its own: it sends Request and
// notes when each line arrives.
struct TTimedClient {
  using Clock = std::chrono::steady_clock;
  TTimedClient(uint16_t port, const std::string& request) {
    const sockaddr_in a{.sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {htonl(INADDR_LOOPBACK)},
                        .sin_zero = {}};
    const timeval limit{.tv_sec = 30, .tv_usec = 0};
    ::setsockopt(Fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::connect(Fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) return;
    (void)::send(Fd, request.data(), request.size(), MSG_NOSIGNAL);
    Reader = std::thread([this] {
      char buf[4096];
      for (ssize_t n; (n = ::recv(Fd, buf, sizeof buf, 0)) > 0;)
        for (ssize_t i = 0; i < n; ++i)
          if (buf[i] == '\n' && Lines < static_cast<int>(Arrived.size())) Arrived[Lines++] = Clock::now();
    });
  }
  ~TTimedClient() {
    ::shutdown(Fd, SHUT_RDWR);
    if (Reader.joinable()) Reader.join();
    ::close(Fd);
  }
  int Fd = ::socket(AF_INET, SOCK_STREAM, 0);
  std::vector<Clock::time_point> Arrived = std::vector<Clock::time_point>(100'000);  // the first Lines
  std::atomic<int> Lines{0};
  std::thread Reader;
};

// A play-back keeps the window's thread from its event loop, yet clients get
// their lines as it runs, and a client that comes meanwhile is greeted.
TEST_F(MainFormTest, JsonClientsAreServedDuringAPlayBack) {
  testing::TempDir dir;
  std::string text;
  while (text.size() < 360) text += "CQ CQ DE DL1ABC DL1ABC PSE K ";
  Prompts.OpenFile = (dir.Path() / "60s.wav").string();
  {
    TQyxWavFile w;  // about a minute, at the default tones
    w.SetFileName(Prompts.OpenFile);
    w.SetSamplesPerSec(6000);
    w.OpenWrite();
    w.Write(TDataBufferF{testing::SynthesizeText({.IdleBeforeSec = 0.5}, text).Samples});
    w.Close();
  }
  Options.ExpertMode = true;
  auto f = Show();
  f->Srv().SetPort(0);  // a free port: other tests may hold the default one
  f->Srv().Start();
  const uint16_t port = f->Srv().ListeningPort();
  TTimedClient follower(port, R"({"Command":"cmdRequestMessageTypes","Arguments":["mtRawChar","mtSettings"]})" "\n");
  ASSERT_TRUE(QTest::qWaitFor([&] { return follower.Lines == 2; }, 5000));  // greeting, settings
  std::unique_ptr<TTimedClient> late;
  std::atomic<bool> played{false};
  std::thread comer([&] {
    // Once the first character has come, while the play-back runs.
    while (follower.Lines < 3 && !played) std::this_thread::sleep_for(1ms);
    if (!played) late = std::make_unique<TTimedClient>(port, "");
  });
  QTest::mouseClick(f->PlayBackButton, Qt::LeftButton);
  const auto ended = TTimedClient::Clock::now();
  played = true;
  comer.join();
  ASSERT_GE(follower.Lines, 3);
  EXPECT_LT(follower.Arrived[2], ended);
  ASSERT_TRUE(late && late->Lines >= 1);
  EXPECT_LT(late->Arrived[0], ended);
  EXPECT_TRUE(Prompts.Errors.empty());
}

}  // namespace
}  // namespace brenvo
