// The main window's commands on the offscreen platform: buttons, menus and
// clicks against the decoding objects they change.
#include <gtest/gtest.h>

// Before Qt, whose "signals" keyword the synthesiser uses as a name.
#include "support/band_synth.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "audio/mme_audio_stream.h"
#include "audio/qyx_wav_file.h"
#include "decoder/message_hmm.h"
#include "decoder/message_statistics.h"
#include "files/data_folders.h"
#include "links/json_server.h"
#include "links/xmmt_interface.h"
#include "receiver/decoding_road.h"
#include "receiver/receiver_test_env.h"
#include "support/temp_dir.h"
#include "ui/about_dialog.h"
#include "ui/calls_frame.h"
#include "ui/main_commands.h"
#include "ui/main_form.h"
#include "ui/message_text_frame.h"
#include "ui/plot_dialog.h"
#include "ui/quick_waterfall.h"
#include "ui/spectrum_dialog.h"
#include "ui/test_prompts.h"
#include "ui/text_view_points.h"

namespace brenvo {
namespace {

const std::string kShippedContests = std::string(BRENVO_SOURCE_DIR) + "/data/Contests.ini";

class MainFormCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureDecoderGlobals();
    SetWaveDevices({{"brenvo_no_such_device", "Missing"}, {"brenvo_none_either", "Mic & Line"}}, {});
    Options.Prompts = &Prompts;
    Options.ContestFile = (Dir.Path() / "Contests.ini").string();
    std::ofstream(Options.ContestFile) << "[CQ-WW]\nCQ1=TEST|1\n[dx]\n[R&D]\n[Broken]\nCQ1=CQ|0,5\n";
  }
  void TearDown() override {
    SetWaveDevices({}, {});
    SetMessageContestFromFile("DX", kShippedContests);
  }
  std::unique_ptr<TMainForm> Show() {
    auto f = std::make_unique<TMainForm>(Options);
    f->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(f.get()));
    return f;
  }
  // Channels made from peak maps as the spectrum engine offers them, each
  // from a pair of peaks 15 bins apart whose upper one is its MarkBin until
  // its first spectrum.
  static void AddChannels(TMainForm& f, std::initializer_list<int> marks) {
    for (int i = 0; i < 8; ++i) {
      std::vector<int32_t> map(256, kPeakNone);
      for (int m : marks) map[m] = map[m - 15] = kPeakUnclaimed;
      f.Road().Chans.ProcessPeaks(map);
    }
  }
  // A port nothing listens on now, for the window's JSON server.
  static int FreePort() {
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost));
    return probe.serverPort();
  }
  static TRttyChannel* ChannelAt(TMainForm& f, int markBin) {
    for (int i = 0; i < f.Road().Chans.Count(); ++i)
      if (f.Road().Chans.Item(i).MarkBin() == markBin) return &f.Road().Chans.Item(i);
    return nullptr;
  }
  // Seconds of an RTTY signal at the default tones, block by block.
  static void Feed(TMainForm& f, double seconds) {
    testing::BandSignal s;
    s.Params.MarkHz = 181 * 3000.0 / 256;
    s.Params.SpaceHz = 196 * 3000.0 / 256;
    s.Params.Amplitude = 8000.0 * 65536.0;
    s.Text = "CQ DE DL1ABC DL1ABC K ";
    const TSingleArray audio =
        testing::SynthesizeBand({s}, seconds, testing::NoiseSigmaFor(s.Params.Amplitude, 20.0), 1);
    for (std::size_t i = 0; i + 128 <= audio.size(); i += 128)
      f.AudioDataArrived(TDataBufferF(1, TSingleArray(audio.begin() + i, audio.begin() + i + 128)));
  }
  testing::TempDir Dir;
  testing::TTestPrompts Prompts;
  TMainFormOptions Options;
};

TEST_F(MainFormCommands, ContestButtonMenuAndSwitch) {
  auto f = Show();
  // Every section in file order, captions as written: "dx" is not "DX".
  std::vector<std::string> items;
  for (QAction* a : f->ContestsMenu->actions())
    if (a->isCheckable() && a != f->DisableContestMNU) items.push_back(a->text().toStdString());
  EXPECT_EQ(items, (std::vector<std::string>{"CQ-WW", "dx", "R&&D", "Broken"}));
  // The contest in force, the button, and the marked menu items.
  auto state = [&] {
    std::string s = MessageStatistics()->ContestName + (f->ContestButton->isChecked() ? ", down" : ", up");
    for (QAction* a : f->ContestsMenu->actions())
      if (a->isChecked()) s += ", " + a->text().toStdString();
    return s;
  };
  const std::string dx = "DX, up, Disable Contest Mode";
  AddChannels(*f, {100});
  auto allReset = [&] {
    bool reset = true;
    for (int i = 0; i < f->Road().Chans.Count(); ++i) reset = reset && f->Road().Chans.Item(i).Rx.HistCnt() == 0;
    return reset && f->MainView->Model().Lines().empty();
  };
  // Whether the command resets every receiver and the view.
  auto resets = [&](const std::function<void()>& command) {
    f->AudioDataArrived(TDataBufferF(1, TSingleArray(128, 0.0f)));
    f->MainView->PutQsxBar(2125);
    EXPECT_FALSE(allReset());
    command();
    return allReset();
  };

  // With "DX" the button only drops the menu down.
  f->ContestButton->click();
  EXPECT_TRUE(f->ContestsMenu->isVisible());
  f->ContestsMenu->hide();
  EXPECT_EQ(state(), dx);
  EXPECT_TRUE(resets([&] { f->ContestsMenu->actions()[2]->trigger(); }));
  EXPECT_EQ(state(), "CQ-WW, down, CQ-WW");
  // With another contest the button returns to "DX" at once.
  EXPECT_TRUE(resets([&] { f->ContestButton->click(); }));
  EXPECT_EQ(state(), dx);
  // Already "DX": the model is still rebuilt and everything reset.
  const auto before = MessageHmm();
  EXPECT_TRUE(resets([&] { f->DisableContestMNU->trigger(); }));
  EXPECT_NE(MessageHmm(), before);
  // A section the model cannot use: a message, and the contest in force stays.
  resets([&] { f->ContestsMenu->actions().back()->trigger(); });
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Prompts.Errors.empty(); }, 5000));
  EXPECT_NE(Prompts.Errors[0].find("Broken"), std::string::npos) << Prompts.Errors[0];
  EXPECT_TRUE(Prompts.Errors[0].ends_with(". \"DX\" stays in force: correct the file, then choose the contest again."))
      << Prompts.Errors[0];
  EXPECT_EQ(state(), dx);
}

// Up to its limit the menu lists every contest; beyond it the first ones,
// with one message that names the file and the limit. "DX" is no item and
// does not count.
TEST_F(MainFormCommands, ContestMenuListsAtMostItsLimit) {
  for (const std::size_t count : {kMaxContestMenuItems, kMaxContestMenuItems + 1}) {
    std::string text = "[DX]\n";
    for (std::size_t i = 0; i < count; ++i) text += "[C" + std::to_string(i) + "]\n";
    std::ofstream(Options.ContestFile) << text;
    Prompts.Errors.clear();
    auto f = Show();
    std::vector<std::string> items;
    for (QAction* a : f->ContestsMenu->actions())
      if (a->isCheckable() && a != f->DisableContestMNU) items.push_back(a->text().toStdString());
    ASSERT_EQ(items.size(), 256u) << count;
    EXPECT_EQ(items.back(), "C255");
    const std::vector<std::string> message = {"BRENVO: The contest file " + Options.ContestFile +
                                              " has more than 256 contests: the contest menu lists the first 256."};
    EXPECT_EQ(Prompts.Errors, count > 256 ? message : std::vector<std::string>{}) << count;
  }
}

TEST_F(MainFormCommands, SoundcardMenu) {
  auto f = Show();
  std::vector<std::string> devices;
  for (QAction* a : f->SoundcardsMenu->actions())
    if (a->isCheckable() && a != f->DisableAudioMNU && a != f->LeftChannelMNU && a != f->RightChannelMNU)
      devices.push_back(a->text().toStdString());
  EXPECT_EQ(devices, (std::vector<std::string>{"01  Missing", "02  Mic && Line"}));
  QAction* second = f->SoundcardsMenu->actions().back();
  EXPECT_TRUE(f->DisableAudioMNU->isChecked());
  EXPECT_FALSE(second->isChecked());
  // A device that cannot be opened: no message, the soundcard stays stopped.
  second->trigger();
  EXPECT_EQ(f->Mme().InputDevice().Index, 1);
  EXPECT_TRUE(second->isChecked());
  EXPECT_FALSE(f->Mme().IsRunning());
  f->RightChannelMNU->trigger();
  EXPECT_TRUE(f->Road().RightChannel);
  EXPECT_FALSE(f->LeftChannelMNU->isChecked());
  // The button does show the open error, naming the device.
  f->SoundcardButton->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Prompts.Errors.empty(); }, 5000));
  EXPECT_FALSE(f->SoundcardButton->isChecked());
  EXPECT_EQ(Prompts.Errors, std::vector<std::string>{
                                "BRENVO: Cannot open the capture device \"brenvo_none_either\": No such file or "
                                "directory. Check that a sound card or sound server is present, or choose another "
                                "device from the menu."});
}

TEST_F(MainFormCommands, SwitchButtons) {
  auto f = Show();
  TDecodingRoad& road = f->Road();
  f->SidebandButton->click();
  EXPECT_TRUE(road.Chans.Usb());
  f->AfcButton->click();
  EXPECT_FALSE(road.Chans.AfcEnabled());
  f->AutoQsxButton->click();
  EXPECT_TRUE(road.HoppingEnabled);
  // Ctrl on the marker strip: back to the default channel, AFC on, Automatic QSX off.
  AddChannels(*f, {100});
  ASSERT_TRUE(road.Chans.SelectNear(100, 0));
  QTest::mouseClick(f->MarkerStrip, Qt::LeftButton, Qt::ControlModifier, QPoint(50, 50));
  EXPECT_EQ(road.Chans.Selected()->MarkBin(), road.Chans.DefaultMarkBin());
  ASSERT_FALSE(f->MainView->Model().Lines().empty());
  EXPECT_EQ(f->MainView->Model().Lines().back(), " QSX 2297 Hz");  // announced as a click is (USB now)
  EXPECT_TRUE(road.Chans.AfcEnabled());
  EXPECT_FALSE(road.HoppingEnabled);
  EXPECT_FALSE(f->AutoQsxButton->isChecked());
}

TEST_F(MainFormCommands, WaterfallClickSelectsNearTheMarkOfTheRow) {
  auto f = Show();
  AddChannels(*f, {177, 186});
  ASSERT_TRUE(ChannelAt(*f, 177) && ChannelAt(*f, 186));
  // Default tones 2295/2125 Hz: the row of bin 188 aims at bin 181 (186 would
  // be nearer to the row's own bin); the selected default channel there does
  // not count.
  QTest::mousePress(f->Waterfall, Qt::LeftButton, Qt::KeyboardModifiers(), QPoint(20, 239 - 188));
  EXPECT_EQ(f->Road().Chans.Selected(), ChannelAt(*f, 177));
  ASSERT_FALSE(f->MainView->Model().Lines().empty());
  EXPECT_EQ(f->MainView->Model().Lines().back(), " QSX 2074 Hz");
}

TEST_F(MainFormCommands, SmartDecodingTwiceAndClear) {
  auto f = Show();
  Feed(*f, 12.0);
  const TMessageStorage& ms = f->Road().Chans.Selected()->Rx.Ms;
  ASSERT_GT(ms.HiChar(), 20);
  const TCharInfoArray all(ms.Chars().begin(), ms.Chars().begin() + ms.HiChar() + 1);
  auto asShown = [&](bool corrected) {
    TMessageTextModel m;
    m.ShowSquelched = false;
    m.ShowCorrected = corrected;
    m.PutText(all, {});
    return m.Lines();
  };
  ASSERT_NE(asShown(false), asShown(true));
  f->SmartDecodingButton->click();
  EXPECT_FALSE(f->SmartDecodingButton->isChecked());
  EXPECT_EQ(f->MainView->Model().Lines(), asShown(false));
  f->SmartDecodingButton->click();
  EXPECT_EQ(f->MainView->Model().Lines(), asShown(true));

  // Clear: the selected receiver only; the selection stays.
  AddChannels(*f, {100});
  ASSERT_TRUE(ChannelAt(*f, 100));
  f->AudioDataArrived(TDataBufferF(1, TSingleArray(128, 0.0f)));
  TRttyChannel* sel = f->Road().Chans.Selected();
  f->ClearButton->click();
  EXPECT_EQ(f->Road().Chans.Selected(), sel);
  EXPECT_EQ(sel->Rx.HistCnt(), 0);
  EXPECT_EQ(sel->Rx.Ms.HiChar(), -1);
  for (int i = 0; i < f->Road().Chans.Count(); ++i)
    EXPECT_TRUE(&f->Road().Chans.Item(i) == sel || f->Road().Chans.Item(i).Rx.HistCnt() > 0) << i;
  EXPECT_TRUE(f->MainView->Model().Lines().empty());
}

// Saving and playing back with Ctrl are run by the end-to-end test.
TEST_F(MainFormCommands, PlayBackOfAFileItCannotPlay) {
  auto f = Show();
  // The recorder's message, and the window comes back as it was.
  const std::string rate = (Dir.Path() / "8000.wav").string(), junk = (Dir.Path() / "junk.wav").string();
  {
    TQyxWavFile w;
    w.SetFileName(rate);
    w.SetSamplesPerSec(8000);
    w.OpenWrite();
    w.Write(TDataBufferF(1, TSingleArray(1000, 0.0f)));
    w.Close();
  }
  std::ofstream(junk) << "not a recording";
  for (const std::string& file : {rate, junk}) {
    Prompts.Errors.clear();
    Prompts.OpenFile = file;
    QTest::mouseClick(f->PlayBackButton, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Prompts.Errors.empty(); }, 5000)) << file;
    EXPECT_EQ(f->cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(f->MainView->updatesEnabled());
    EXPECT_TRUE(f->CallsList->ListEdit()->updatesEnabled());
    EXPECT_FALSE(f->Mme().IsRunning());
  }
  EXPECT_EQ(Prompts.Errors[0].find("BRENVO: Cannot play back \"" + junk + "\": Not a WAV file"), 0u) << Prompts.Errors[0];
}

// Text views: a word goes to the clipboard and the JSON server; beside the
// text a beep and nothing posted; the raw view plots around a character.
TEST_F(MainFormCommands, TextViewClicks) {
  const int port = FreePort();
  Options.Params = {"PORT=" + std::to_string(port)};
  Options.DebugMode = true;
  auto f = Show();
  QTcpSocket client;
  client.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
  ASSERT_TRUE(client.waitForConnected(5000));
  client.write(R"({"Command":"cmdRequestMessageTypes","Arguments":["mtUserClick"]})" "\n");
  // The server runs on this thread: wait with the event loop running.
  auto nextLine = [&] {
    EXPECT_TRUE(QTest::qWaitFor([&] { return client.canReadLine(); }, 5000));
    return client.readLine().trimmed().toStdString();
  };
  ASSERT_EQ(nextLine().rfind(R"({"MessageType":"mtSystemInfo")", 0), 0u);

  Feed(*f, 5.0);
  TMessageTextFrame& main = *f->MainView;
  main.PutQsxBar(2125);
  const int bar = static_cast<int>(main.Model().Lines().size()) - 1;
  QTest::mouseClick(main.Syn()->viewport(), Qt::LeftButton, Qt::KeyboardModifiers(),
                    PointOf(main, bar, 11) + QPoint(80, 0));
  EXPECT_EQ(Prompts.Beeps, 1);
  QTest::mouseClick(main.Syn()->viewport(), Qt::LeftButton, Qt::ShiftModifier, PointOf(main, bar, 2));
  // The first click line is the second click's.
  EXPECT_EQ(nextLine(), R"({"MessageType":"mtUserClick","Word":"QSX 2125 Hz","Kind":"ctWord",)"
                        R"("Shift":["ssShift","ssLeft"],"Pos":2})");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), " QSX 2125 Hz");
  // The second press of a double click posts again, marked as such.
  QTest::mouseDClick(main.Syn()->viewport(), Qt::LeftButton, Qt::KeyboardModifiers(), PointOf(main, bar, 2));
  QTest::mouseRelease(main.Syn()->viewport(), Qt::LeftButton, Qt::KeyboardModifiers(), PointOf(main, bar, 2));
  EXPECT_EQ(nextLine(), R"({"MessageType":"mtUserClick","Word":"QSX 2125 Hz","Kind":"ctWord",)"
                        R"("Shift":["ssLeft","ssDouble"],"Pos":2})");

  // Raw view: the bar has nothing to plot; a character does.
  TMessageTextFrame& raw = *f->RawView;
  raw.PutQsxBar(2125);
  const int rawBar = static_cast<int>(raw.Model().Lines().size()) - 1;
  QTest::mouseClick(raw.Syn()->viewport(), Qt::LeftButton, Qt::KeyboardModifiers(), PointOf(raw, rawBar, 2));
  EXPECT_FALSE(f->PlotDialog->isVisible());
  const QPoint ch = PointOf(raw, rawBar - 1, 0);
  QTest::mouseClick(raw.Syn()->viewport(), Qt::LeftButton, Qt::KeyboardModifiers(), ch);
  EXPECT_TRUE(f->PlotDialog->isVisible());
  EXPECT_EQ(f->PlotDialog->SampleNo(), raw.SampleNoAt(ch));
  EXPECT_GT(raw.SampleNoAt(ch), 0);
}

// A logging program subscribed to the settings: every button, menu item and
// strip click that changes what the settings line says brings one line, in
// its new state; the others none. On the way: outside debug mode the raw
// view gets nothing; clear and the contest switch reset the external
// engine's text; only Ctrl with Shift on its view toggles its window flag.
TEST_F(MainFormCommands, EveryControlWithASubscribedClient) {
  const int port = FreePort();
  const std::string engine = (Dir.Path() / "engine.sh").string();
  std::ofstream(engine) << "#!/bin/sh\nwhile :; do printf 'RY 5'; sleep 0.05; done\n";
  std::filesystem::permissions(engine, std::filesystem::perms::owner_all);
  Options.Params = {"PORT=" + std::to_string(port)};
  Options.ExpertMode = true;
  Options.ExternalExe = engine;
  auto f = Show();
  f->ShellOpener = [](const QUrl&) { return true; };
  QTcpSocket client;
  client.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
  ASSERT_TRUE(client.waitForConnected(5000));
  client.write(R"({"Command":"cmdRequestMessageTypes","Arguments":["mtSettings","mtCorrChar"]})" "\n");
  std::vector<std::string> got, wanted, corrected;
  auto read = [&] {
    while (client.canReadLine()) {
      const std::string l = client.readLine().trimmed().toStdString();
      if (l.rfind(R"({"MessageType":"mtSettings")", 0) == 0) got.push_back(l);
      if (l.rfind(R"({"MessageType":"mtCorrChar")", 0) == 0) corrected.push_back(l);
    }
  };
  auto settings = [](const char* sideband, bool afc, bool qsx, const char* contest) {
    return std::string(R"({"MessageType":"mtSettings","Sideband":")") + sideband + R"(","AFC":")" +
           (afc ? "true" : "false") + R"(","AutoQSX":")" + (qsx ? "true" : "false") + R"(","Contest":")" + contest +
           "\"}";
  };
  // After each press, the lines so far against those wanted so far; a line
  // that should not have come shows at the latest with the next one wanted.
  auto press = [&](const char* what, const std::function<void()>& action, std::string line = "") {
    action();
    if (!line.empty()) wanted.push_back(line);
    (void)QTest::qWaitFor([&] {
      read();
      return got.size() >= wanted.size();
    }, 5000);
    EXPECT_EQ(got, wanted) << what;
  };
  press("subscription", [] {}, settings("LSB", true, false, "DX"));
  // Whether the next corrected character a client gets starts a line (after
  // the views were emptied, it does, whatever its own flags say).
  auto nextStartsALine = [&] {
    TCharInfo r;
    r.CorrCh = 'X';
    r.CorrFlags = TCharFlags{cfVisible};
    const std::size_t before = corrected.size();
    f->Road().PostCharsToServer({r}, {});
    return QTest::qWaitFor([&] {
      read();
      return corrected.size() > before;
    }, 5000) && corrected[before].find(R"("NewLine":true)") != std::string::npos;
  };
  EXPECT_FALSE(nextStartsALine());

  // Outside debug mode the raw view gets neither text nor, below, a QSX bar.
  Feed(*f, 4.0);
  EXPECT_FALSE(f->MainView->Model().Lines().empty());
  EXPECT_TRUE(f->RawView->Model().Lines().empty());
  QAction* device = f->SoundcardsMenu->actions().back();
  auto contestItem = [&](const char* name) {
    for (QAction* a : f->ContestsMenu->actions())
      if (a->text() == name) return a;
    ADD_FAILURE() << name;
    return f->DisableContestMNU;
  };
  press("soundcard", [&] { f->SoundcardButton->click(); });
  press("Stop Soundcard", [&] { f->DisableAudioMNU->trigger(); });
  press("right channel", [&] { f->RightChannelMNU->trigger(); });
  press("left channel", [&] { f->LeftChannelMNU->trigger(); });
  press("device", [&] { device->trigger(); });
  press("sideband", [&] { f->SidebandButton->click(); }, settings("USB", true, false, "DX"));
  press("AFC", [&] { f->AfcButton->click(); }, settings("USB", false, false, "DX"));
  press("Automatic QSX", [&] { f->AutoQsxButton->click(); }, settings("USB", false, true, "DX"));
  press("smart decoding", [&] { f->SmartDecodingButton->click(); });
  press("smart decoding again", [&] { f->SmartDecodingButton->click(); });
  press("contest button with DX", [&] {
    f->ContestButton->click();
    f->ContestsMenu->hide();
  });
  // The engine's text as the command left it, before the engine sends more.
  int32_t engineText = 0;
  ASSERT_TRUE(QTest::qWaitFor([&] { return f->Xmmt().Ms().HiChar() >= 0; }, 5000));
  press("a contest", [&] {
    contestItem("CQ-WW")->trigger();
    engineText = f->Xmmt().Ms().HiChar();
  }, settings("USB", false, true, "CQ-WW"));
  EXPECT_EQ(engineText, -1);
  press("a contest the model cannot use", [&] { contestItem("Broken")->trigger(); });
  press("contest button with a contest", [&] { f->ContestButton->click(); }, settings("USB", false, true, "DX"));
  press("Disable Contest Mode with DX", [&] { f->DisableContestMNU->trigger(); });
  press("contest dx", [&] { contestItem("dx")->trigger(); }, settings("USB", false, true, "dx"));
  press("Disable Contest Mode", [&] { f->DisableContestMNU->trigger(); }, settings("USB", false, true, "DX"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return f->Xmmt().Figs(); }, 5000));
  press("clear", [&] {
    f->ClearButton->click();
    engineText = f->Xmmt().Ms().HiChar();
    EXPECT_FALSE(f->Xmmt().Figs());
  });
  EXPECT_EQ(engineText, -1);
  EXPECT_TRUE(nextStartsALine()) << "clear";
  press("help", [&] { f->HelpButton->click(); });
  press("Help File...", [&] { f->HelpFileMNU->trigger(); });
  press("Data Folder...", [&] { f->DataFolderMNU->trigger(); });
  press("About...", [&] {
    QTimer::singleShot(0, f->AboutDialog, &QDialog::reject);
    f->AboutMNU->trigger();
  });
  press("save", [&] { f->SaveAudioButton->click(); });
  press("play back", [&] { f->PlayBackButton->click(); });
  EXPECT_TRUE(nextStartsALine()) << "play back";
  press("marker strip", [&] { QTest::mouseClick(f->MarkerStrip, Qt::LeftButton, {}, QPoint(50, 50)); });
  press("marker strip with Ctrl", [&] { QTest::mouseClick(f->MarkerStrip, Qt::LeftButton, Qt::ControlModifier, QPoint(50, 50)); },
        settings("USB", true, false, "DX"));
  press("marker strip with Ctrl again",
        [&] { QTest::mouseClick(f->MarkerStrip, Qt::LeftButton, Qt::ControlModifier, QPoint(50, 50)); });
  AddChannels(*f, {100});
  press("waterfall", [&] { QTest::mousePress(f->Waterfall, Qt::LeftButton, {}, QPoint(20, 239 - 100 - 7)); });
  ASSERT_EQ(f->Road().Chans.Selected(), ChannelAt(*f, 100));
  QWidget* engineView = f->EngineView->Syn()->viewport();
  press("engine view with Ctrl", [&] { QTest::mouseClick(engineView, Qt::LeftButton, Qt::ControlModifier, QPoint(5, 5)); });
  EXPECT_FALSE(f->Xmmt().WindowVisible());
  press("engine view with Ctrl and Shift",
        [&] { QTest::mouseClick(engineView, Qt::LeftButton, Qt::ControlModifier | Qt::ShiftModifier, QPoint(5, 5)); });
  EXPECT_TRUE(f->Xmmt().WindowVisible());
  press("sideband again", [&] { f->SidebandButton->click(); }, settings("LSB", true, false, "DX"));
  QTest::qWait(50);
  press("nothing more", [] {});
  EXPECT_TRUE(f->RawView->Model().Lines().empty());
}

// Each view shows a squelched character or not as its switches say: not the
// main view, the raw and the external engine's view do.
TEST_F(MainFormCommands, SquelchedTextInTheThreeViews) {
  auto f = Show();
  TCharInfo r;
  r.RawCh = r.CorrCh = 'Q';
  r.RawFlags = r.CorrFlags = TCharFlags{cfVisible, cfSquelch};
  std::vector<std::string> shown;
  for (TMessageTextFrame* v : {f->MainView, f->RawView, f->EngineView}) {
    v->PutText({r}, {});
    shown.push_back(v->Model().Utf8Text());
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"", "Q", "Q"}));
}

// A contest the settings name that the file cannot give (a section it lacks
// or cannot use): a message naming both, and the program starts with "DX",
// which the settings line reports. An empty name is "DX" itself: no message.
TEST_F(MainFormCommands, SavedContestTheFileCannotGive) {
  Options.SettingsFile = (Dir.Path() / "brenvo.ini").string();
  for (const std::string contest : {"Broken", "NoSuchContest", ""}) {
    Prompts.Errors.clear();
    std::ofstream(Options.SettingsFile) << "[Decoders]\nContest=" << contest << "\n";
    auto f = Show();
    if (contest.empty()) {
      QTest::qWait(20);
      EXPECT_EQ(Prompts.Errors, std::vector<std::string>());
    } else {
      ASSERT_TRUE(QTest::qWaitFor([&] { return !Prompts.Errors.empty(); }, 5000)) << contest;
      EXPECT_NE(Prompts.Errors[0].find(contest), std::string::npos) << Prompts.Errors[0];
      EXPECT_NE(Prompts.Errors[0].find(Options.ContestFile), std::string::npos) << Prompts.Errors[0];
    }
    EXPECT_EQ(MessageStatistics()->ContestName, "DX");
    EXPECT_EQ(f->Srv().OnGetSettings().ContestName, "DX");
    EXPECT_FALSE(f->ContestButton->isChecked());
    f.reset();
  }
}

// A settings file that cannot be written: one message at close, none more
// when the window is destroyed.
TEST_F(MainFormCommands, UnwritableSettingsFileIsReportedOnce) {
  const std::string notAFolder = (Dir.Path() / "not a folder").string();
  std::ofstream(notAFolder) << "x";
  Options.SettingsFile = notAFolder + "/brenvo.ini";
  auto f = Show();
  f->close();
  f.reset();
  QTest::qWait(10);
  EXPECT_EQ(Prompts.Errors,
            std::vector<std::string>{"BRENVO: Unable to write to " + Options.SettingsFile + ": Not a directory"});
}

// A settings file and a contest file that are refused (a named pipe, a link
// loop): one message each at start, with the reason, none later; the pipe is
// not written over at close.
TEST_F(MainFormCommands, RefusedFilesAreReportedOnceAndLeftAlone) {
  namespace fs = std::filesystem;
  Options.SettingsFile = (Dir.Path() / "brenvo.ini").string();
  ASSERT_EQ(mkfifo(Options.SettingsFile.c_str(), 0600), 0);
  fs::remove(Options.ContestFile);
  fs::create_symlink(Options.ContestFile, Options.ContestFile);
  auto f = Show();
  f->SetContest("CQ-WW");
  f->close();
  f.reset();
  QTest::qWait(10);
  EXPECT_EQ(Prompts.Errors,
            (std::vector<std::string>{"BRENVO: Cannot read the contest file " + Options.ContestFile +
                                          ": Too many levels of symbolic links. The program runs without contests.",
                                      "BRENVO: Cannot read the settings file " + Options.SettingsFile +
                                          ": not a regular file. The program starts with its default settings and "
                                          "leaves the file as it is."}));
  EXPECT_TRUE(fs::is_fifo(Options.SettingsFile));
}

// Saved tones that move the space tone's bin but not the mark's: the
// selected channel is made on both.
TEST_F(MainFormCommands, SavedTonesMovingOnlyTheSpaceBin) {
  Options.SettingsFile = (Dir.Path() / "brenvo.ini").string();
  std::ofstream(Options.SettingsFile) << "[Decoders]\nDefaultHighTone=2287\n";
  auto f = Show();
  const TRttyChannels& chans = f->Road().Chans;
  ASSERT_EQ(std::pair(chans.DefaultMarkBin(), chans.DefaultSpaceBin()), std::pair(181, 195));
  EXPECT_EQ(chans.Selected()->MarkBin(), 181);
  EXPECT_EQ(chans.Selected()->Rx.Afc.BinS, 195);
}

TEST_F(MainFormCommands, HelpOpensTheGuideTheFolderOrTheSpectrum) {
  const std::string guide = TMainForm::HelpFileName();
  ASSERT_TRUE(std::filesystem::exists(guide)) << guide;  // beside the tests as beside the program
  const std::string guideError = "BRENVO: Cannot open the user guide \"" + guide + "\". Open it by hand in a web browser.";
  const std::string folderError =
      "BRENVO: Cannot open the data folder \"" + GetSettingsFolder() + "\". Open it by hand in a file manager.";
  // A desktop that cannot open them: a box names what to open by hand.
  for (bool launcher : {true, false})
    for (bool debug : {false, true}) {
      Options.DebugMode = debug;
      auto f = Show();
      std::vector<QUrl> opened;
      f->ShellOpener = [&](const QUrl& u) {
        opened.push_back(u);
        return launcher;
      };
      Prompts.Errors.clear();
      f->HelpButton->click();
      f->DataFolderMNU->trigger();
      f->AboutDialog->GuideLabelClick();  // the about box's link says so too
      std::vector<std::string> errors;
      if (!launcher && !debug) errors.push_back(guideError);
      if (!launcher) errors.insert(errors.end(), {folderError, guideError});
      EXPECT_EQ(Prompts.Errors, errors) << launcher << debug;
      ASSERT_EQ(opened.size(), debug ? 2u : 3u);
      if (!debug) {
        EXPECT_EQ(opened[0].toLocalFile().toStdString(), guide);
      }
      EXPECT_EQ(opened[opened.size() - 2].toLocalFile().toStdString(), GetSettingsFolder());
      EXPECT_EQ(opened.back().toLocalFile().toStdString(), guide);
      EXPECT_EQ(f->SpectrumDialog->isVisible(), debug);
    }
}

}  // namespace
}  // namespace brenvo
