#include "audio/wav_ring_buf_recorder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>
#include <string>
#include <vector>

#include "audio/qyx_wav_file.h"
#include "decoder/utc_clock.h"
#include "files/data_folders.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

namespace fs = std::filesystem;

// Dialog answers the test sets in advance, and a log of what was asked.
struct TScriptedUi : IRecorderUi {
  bool Confirm = true;
  std::string Answer;  // empty: confirm the proposed name in the recordings folder
  int Beeps = 0, Saves = 0, Opens = 0;
  std::string Proposed;
  TFileDialogOptions LastDlg;
  bool ExecuteSaveDialog(const TFileDialogOptions& dlg, const std::string& proposed, std::string& chosen) override {
    ++Saves;
    LastDlg = dlg;
    Proposed = proposed;
    chosen = Answer.empty() ? dlg.InitialDir + proposed : Answer;
    return Confirm;
  }
  bool ExecuteOpenDialog(const TFileDialogOptions& dlg, const std::string& proposed, std::string& chosen) override {
    ++Opens;
    LastDlg = dlg;
    Proposed = proposed;
    chosen = Answer;
    return Confirm;
  }
  void Beep() override { ++Beeps; }
};

class Recorder : public ::testing::Test {
 protected:
  void SetUp() override { SetAppDataRoot(Dir.Path().string()); }
  void TearDown() override { SetAppDataRoot(""); }
  // Block i holds the 16-bit value i (modulo 2^15), on the 32-bit scale.
  void AddBlocks(TWavRingBufRecorder& rec, int count) {
    TSingleArray block(128);
    for (int i = 0; i < count; ++i) {
      block.assign(128, static_cast<float>((i % 32768) * 65536));
      rec.AddToRingBuf(block);
    }
  }
  static int WavFilesIn(const std::string& folder) {
    int n = 0;
    if (fs::exists(folder))
      for (const auto& e : fs::directory_iterator(folder)) n += e.path().extension() == ".wav";
    return n;
  }
  // A folder of the test's own on another file system than Dir (/dev/shm is
  // one on most machines), or none.
  std::unique_ptr<testing::TempDir> FolderElsewhere() const {
    struct stat a {}, b {};
    if (stat("/dev/shm", &b) != 0 || access("/dev/shm", W_OK) != 0 || stat(Dir.Path().c_str(), &a) != 0 ||
        a.st_dev == b.st_dev)
      return nullptr;
    return std::make_unique<testing::TempDir>("/dev/shm");
  }
  testing::TempDir Dir;
  TScriptedUi Ui;
};

TEST_F(Recorder, RingHoldsTheLastSixtySeconds) {
  EXPECT_EQ(TWavRingBufRecorder::kRingBlocks, 2812);
  TWavRingBufRecorder rec(Ui);
  AddBlocks(rec, 2815);
  EXPECT_EQ(rec.BufIdx(), 2815);
  EXPECT_EQ(rec.Slot(0)[0], 2812 * 65536.0f);
  EXPECT_EQ(rec.Slot(3)[0], 3 * 65536.0f);
  rec.ClearRingBuf();
  EXPECT_EQ(rec.BufIdx(), 0);
  EXPECT_TRUE(rec.Slot(0).empty());
  EXPECT_THROW(rec.Slot(2812), ERangeError);
}

TEST_F(Recorder, TenBlocksSaveAsTwelveHundredEightyFramesWithTheirStartTime) {
  TWavRingBufRecorder rec(Ui);
  AddBlocks(rec, 10);
  const TDateTime before = UtcNow();
  ASSERT_TRUE(rec.SaveRingBuf());
  const TDateTime after = UtcNow();
  EXPECT_EQ(Ui.Saves, 1);
  EXPECT_EQ(Ui.LastDlg.Title, "Save Audio");
  EXPECT_EQ(Ui.LastDlg.Filter, "WAV Files (*.wav)|*.wav|All Files (*.*)|*.*");
  EXPECT_EQ(rec.WavDir(), GetSettingsFolder() + "Wav/");
  // The name is the UTC time of the save.
  const std::string name = fs::path(rec.LastFileName()).filename().string();
  EXPECT_EQ(name, Ui.Proposed);
  ASSERT_EQ(name.size(), 21u);
  const std::string lo = UtcToStr(before), hi = UtcToStr(after);
  auto asName = [](std::string s) {
    s.erase(16, 1);
    s.erase(13, 1);
    return s + ".wav";
  };
  EXPECT_GE(name, asName(lo));
  EXPECT_LE(name, asName(hi));

  TQyxWavFile r;
  r.SetFileName(rec.LastFileName());
  r.OpenRead();
  EXPECT_EQ(r.SampleCnt(), 1280u);
  EXPECT_EQ(r.SamplesPerSec(), 6000u);
  EXPECT_EQ(r.ChannelCount(), 1u);
  EXPECT_EQ(r.FormatTag(), "WAVE_FORMAT_PCM");
  TDataBufferF all = r.Read(2000);
  for (int i = 0; i < 1280; ++i) ASSERT_EQ(all[0][i], (i / 128) * 65536.0f) << i;
  ASSERT_EQ(r.Info().size(), 3u);
  const double span = 1280.0 / 6000.0 / 86400.0;
  const std::string qtr = r.Info()[0];
  EXPECT_GE(qtr, "QTR =" + UtcToStr(before - span) + " UTC");
  EXPECT_LE(qtr, "QTR =" + UtcToStr(after - span) + " UTC");
  EXPECT_EQ(r.Info()[1], "ISFT=BRENVO");
  EXPECT_EQ(r.Info()[2].substr(0, 5), "IWEB=");
}

TEST_F(Recorder, AFullRingSavesItsOldestBlockFirst) {
  TWavRingBufRecorder rec(Ui);
  AddBlocks(rec, 3000);
  ASSERT_TRUE(rec.SaveRingBuf());
  TQyxWavFile r;
  r.SetFileName(rec.LastFileName());
  r.OpenRead();
  ASSERT_EQ(r.SampleCnt(), 2812u * 128u);
  TDataBufferF all = r.Read(2812 * 128);
  for (int b = 0; b < 2812; ++b) ASSERT_EQ(all[0][static_cast<size_t>(b) * 128], (188 + b) * 65536.0f) << b;
  // Saving leaves the ring as it was: the same minute can be saved again.
  EXPECT_EQ(rec.BufIdx(), 3000);
}

TEST_F(Recorder, NothingRecordedOnlyBeeps) {
  TWavRingBufRecorder rec(Ui);
  EXPECT_FALSE(rec.SaveRingBuf());
  EXPECT_EQ(Ui.Beeps, 1);
  EXPECT_EQ(Ui.Saves, 0);
  EXPECT_EQ(WavFilesIn(rec.WavDir()), 0);
}

TEST_F(Recorder, CancellingDeletesTheRecording) {
  TWavRingBufRecorder rec(Ui);
  AddBlocks(rec, 5);
  Ui.Confirm = false;
  EXPECT_FALSE(rec.SaveRingBuf());
  EXPECT_EQ(WavFilesIn(rec.WavDir()), 0);
  EXPECT_FALSE(fs::exists(rec.LastFileName()));
  // Play-back of the last recording now has to ask for a file.
  Ui.Answer = "";
  rec.PlayBack(false);
  EXPECT_EQ(Ui.Opens, 1);
  EXPECT_EQ(Ui.LastDlg.Title, "Play Back Audio");
}

TEST_F(Recorder, PlayBackAsksInTheFolderOfTheRecordings) {
  TWavRingBufRecorder rec(Ui);
  Ui.Confirm = false;
  const auto askedIn = [&] {
    rec.PlayBack(true);
    return fs::is_directory(Ui.LastDlg.InitialDir) ? Ui.LastDlg.InitialDir : "(missing) " + Ui.LastDlg.InitialDir;
  };
  EXPECT_EQ(askedIn(), rec.WavDir());  // before anything was saved
  // Where the last recording went, while that folder is there.
  const fs::path kept = Dir.Path() / "kept";
  fs::create_directory(kept);
  AddBlocks(rec, 5);
  Ui.Confirm = true;
  Ui.Answer = (kept / "a.wav").string();
  ASSERT_TRUE(rec.SaveRingBuf());
  Ui.Confirm = false;
  EXPECT_EQ(askedIn(), kept.string() + "/");
  fs::remove_all(kept);
  fs::remove_all(rec.WavDir());
  EXPECT_EQ(askedIn(), rec.WavDir());
}

TEST_F(Recorder, ConfirmingTheProposedNameKeepsTheFile) {
  TWavRingBufRecorder rec(Ui);
  AddBlocks(rec, 5);
  ASSERT_TRUE(rec.SaveRingBuf());
  EXPECT_TRUE(fs::exists(rec.LastFileName()));
  EXPECT_EQ(WavFilesIn(rec.WavDir()), 1);
}

TEST_F(Recorder, TheSameFileUnderAnotherSpellingIsNotMovedOntoItself) {
  TWavRingBufRecorder rec(Ui);
  AddBlocks(rec, 5);
  struct TOtherSpelling : TScriptedUi {
    bool ExecuteSaveDialog(const TFileDialogOptions& dlg, const std::string& proposed, std::string& chosen) override {
      chosen = dlg.InitialDir + "./" + proposed;
      return true;
    }
  } ui;
  TWavRingBufRecorder r2(ui);
  AddBlocks(r2, 5);
  ASSERT_TRUE(r2.SaveRingBuf());
  TQyxWavFile f;
  f.SetFileName(r2.LastFileName());
  f.OpenRead();
  EXPECT_EQ(f.SampleCnt(), 640u);
}

TEST_F(Recorder, ConfirmingAnotherNameMovesAndReplaces) {
  TWavRingBufRecorder rec(Ui);
  AddBlocks(rec, 7);
  const fs::path target = Dir.Path() / "chosen.wav";
  testing::TempDir other;
  { std::ofstream(target) << "old"; }
  Ui.Answer = target.string();
  ASSERT_TRUE(rec.SaveRingBuf());
  EXPECT_EQ(rec.LastFileName(), target.string());
  EXPECT_EQ(WavFilesIn(rec.WavDir()), 0);
  TQyxWavFile f;
  f.SetFileName(target.string());
  f.OpenRead();
  EXPECT_EQ(f.SampleCnt(), 7u * 128u);
}

TEST_F(Recorder, MovingAcrossFileSystemsCopies) {
  const auto elsewhere = FolderElsewhere();
  if (!elsewhere) GTEST_SKIP() << "no second file system";
  const fs::path target = elsewhere->Path() / "chosen.wav";
  TWavRingBufRecorder rec(Ui);
  AddBlocks(rec, 3);
  Ui.Answer = target.string();
  ASSERT_TRUE(rec.SaveRingBuf());
  EXPECT_EQ(WavFilesIn(rec.WavDir()), 0);
  EXPECT_TRUE(fs::exists(target));
  EXPECT_FALSE(fs::exists(target.string() + ".part"));
}

// The copy made for a move across file systems never lands on a file of the
// user's that happens to carry the copy's working name.
TEST_F(Recorder, MovingAcrossFileSystemsLeavesOtherFilesAlone) {
  const auto elsewhere = FolderElsewhere();
  if (!elsewhere) GTEST_SKIP() << "no second file system";
  const fs::path target = elsewhere->Path() / "chosen.wav";
  const std::string part = target.string() + ".part";
  std::ofstream(part) << "the user's file";
  TWavRingBufRecorder rec(Ui);
  AddBlocks(rec, 3);
  Ui.Answer = target.string();
  ASSERT_TRUE(rec.SaveRingBuf());
  std::string text;
  std::getline(std::ifstream(part), text);
  EXPECT_EQ(text, "the user's file");
  TQyxWavFile f;
  f.SetFileName(target.string());
  f.OpenRead();
  EXPECT_EQ(f.SampleCnt(), 3u * 128u);
  f.Close();
  EXPECT_FALSE(fs::exists(target.string() + ".part2"));
}

TEST_F(Recorder, AFailedMoveSaysSoAndKeepsTheRecording) {
  TWavRingBufRecorder rec(Ui);
  AddBlocks(rec, 3);
  Ui.Answer = (Dir.Path() / "no such folder" / "x.wav").string();
  try {
    rec.SaveRingBuf();
    FAIL() << "no exception";
  } catch (const EBrenvoError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot move/rename file \"" + rec.LastFileName() + "\" to \"" + Ui.Answer + "\"");
  }
  EXPECT_EQ(WavFilesIn(rec.WavDir()), 1);
}

// A save never overwrites a recording already in the folder: one made in the
// same second, kept under its proposed name, stays (and a cancelled second
// save does not delete it). The names of this second and the next two are
// taken in advance, so the test does not depend on when it runs.
TEST_F(Recorder, ASaveInTheSameSecondKeepsTheEarlierRecording) {
  TWavRingBufRecorder rec(Ui);
  AddBlocks(rec, 2);
  ForceFolder(rec.WavDir());
  auto stamp = [](TDateTime t) {
    std::string s = UtcToStr(t);
    s.erase(16, 1);
    s.erase(13, 1);
    return s;
  };
  const TDateTime now = UtcNow();
  std::vector<std::string> taken;
  for (int k = 0; k < 3; ++k) {
    taken.push_back(rec.WavDir() + stamp(now + k / 86400.0) + ".wav");
    std::ofstream(taken.back()) << "earlier recording";
  }
  Ui.Confirm = false;
  EXPECT_FALSE(rec.SaveRingBuf());
  Ui.Confirm = true;
  ASSERT_TRUE(rec.SaveRingBuf());
  for (const std::string& t : taken) {
    std::ifstream in(t);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "earlier recording") << t;
  }
  EXPECT_NE(std::find(taken.begin(), taken.end(), rec.LastFileName().substr(0, rec.LastFileName().size() - 8) + ".wav"),
            taken.end());
  EXPECT_EQ(rec.LastFileName().substr(rec.LastFileName().size() - 8), " (2).wav");
  EXPECT_EQ(WavFilesIn(rec.WavDir()), 4);
}

TEST_F(Recorder, AFailedMoveNamesBothFilesInFull) {
  TWavRingBufRecorder rec(Ui);
  AddBlocks(rec, 1);
  std::string missing = Dir.Path().string();
  for (int i = 0; i < 12; ++i) missing += "/" + std::string(200, static_cast<char>('a' + i));
  Ui.Answer = missing + "/x.wav";
  try {
    rec.SaveRingBuf();
    FAIL() << "no exception";
  } catch (const EBrenvoError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot move/rename file \"" + rec.LastFileName() + "\" to \"" + Ui.Answer + "\"");
  }
}

class PlayBackTest : public Recorder {
 protected:
  std::string MakeFile(int frames, int channels, uint32_t rate) {
    const std::string path = (Dir.Path() / "p.wav").string();
    TQyxWavFile w;
    w.SetFileName(path);
    w.SetChannelCount(channels);
    w.SetSamplesPerSec(rate);
    w.OpenWrite();
    TDataBufferF d(channels, TSingleArray(frames));
    for (int c = 0; c < channels; ++c)
      for (int i = 0; i < frames; ++i) d[c][i] = static_cast<float>((i + c) * 65536);
    w.Write(d);
    w.Close();
    return path;
  }
  std::vector<TDataBufferF> Blocks;
  void Listen(TWavRingBufRecorder& rec) {
    rec.SetOnData([this](const void*, const TDataBufferI& ints, const TDataBufferF& in, TDataBufferF& out) {
      EXPECT_TRUE(ints.empty());
      EXPECT_TRUE(out.empty());
      Blocks.push_back(in);
    });
  }
};

// Seven blocks of the file, then one second of silent blocks that let the
// decoder give out the text of the file's end.
TEST_F(PlayBackTest, ThousandFramesPlayAsSevenBlocksAndASecondOfSilence) {
  TWavRingBufRecorder rec(Ui);
  Listen(rec);
  Ui.Answer = MakeFile(1000, 1, 6000);
  rec.PlayBack(true);
  ASSERT_EQ(Blocks.size(), 7u + kPlayBackFlushBlocks);
  for (size_t b = 0; b < Blocks.size(); ++b) {
    ASSERT_EQ(Blocks[b].size(), 1u);
    ASSERT_EQ(Blocks[b][0].size(), 128u);
    const float first = b < 7 ? static_cast<float>(b * 128 * 65536) : 0.0f;
    EXPECT_EQ(Blocks[b][0][0], first);
    EXPECT_EQ(Blocks[b][0][127], b < 7 ? first + 127 * 65536.0f : 0.0f);
  }
  EXPECT_EQ(rec.LastFileName(), "");  // play-back does not change it
  // A file without a whole block plays nothing at all.
  Blocks.clear();
  Ui.Answer = MakeFile(127, 1, 6000);
  rec.PlayBack(true);
  EXPECT_TRUE(Blocks.empty());
}

TEST_F(PlayBackTest, StereoGivesTwoArraysPerBlock) {
  TWavRingBufRecorder rec(Ui);
  Listen(rec);
  Ui.Answer = MakeFile(256, 2, 6000);
  rec.PlayBack(true);
  ASSERT_EQ(Blocks.size(), 2u + kPlayBackFlushBlocks);
  EXPECT_EQ(Blocks[1][1][0], 129 * 65536.0f);
  EXPECT_EQ(Blocks.back(), TDataBufferF(2, TSingleArray(128, 0.0f)));
}

TEST_F(PlayBackTest, OtherRatesAreRefused) {
  TWavRingBufRecorder rec(Ui);
  Listen(rec);
  Ui.Answer = MakeFile(1000, 1, 48000);
  try {
    rec.PlayBack(true);
    FAIL() << "no exception";
  } catch (const EBrenvoError& e) {
    EXPECT_EQ(e.what(), "Cannot play back \"" + Ui.Answer + "\": Unsupported sampling rate: 48000 Hz, must be 6000 Hz");
  }
  EXPECT_TRUE(Blocks.empty());
}

TEST_F(PlayBackTest, LastRecordingPlaysWithoutAskingAndFeedsTheRing) {
  TWavRingBufRecorder rec(Ui);
  AddBlocks(rec, 4);
  ASSERT_TRUE(rec.SaveRingBuf());
  rec.ClearRingBuf();
  // The handler appends what it gets, as the main window's does.
  rec.SetOnData([&](const void*, const TDataBufferI&, const TDataBufferF& in, TDataBufferF&) { rec.AddToRingBuf(in[0]); });
  rec.PlayBack(false);
  EXPECT_EQ(Ui.Opens, 0);
  EXPECT_EQ(rec.BufIdx(), 4 + kPlayBackFlushBlocks);
  EXPECT_EQ(rec.Slot(3)[0], 3 * 65536.0f);
  // Cancelling the open dialog plays nothing.
  Ui.Confirm = false;
  rec.PlayBack(true);
  EXPECT_EQ(rec.BufIdx(), 4 + kPlayBackFlushBlocks);
}

TEST_F(PlayBackTest, EveryBlockComesWithAnEmptyOutBuffer) {
  TWavRingBufRecorder rec(Ui);
  int blocks = 0;
  rec.SetOnData([&](const void*, const TDataBufferI&, const TDataBufferF&, TDataBufferF& out) {
    EXPECT_TRUE(out.empty()) << blocks;
    ++blocks;
    out.assign(2, TSingleArray(128, 1.0f));  // a handler that fills it anyway
  });
  Ui.Answer = MakeFile(512, 1, 6000);
  rec.PlayBack(true);
  EXPECT_EQ(blocks, 4 + kPlayBackFlushBlocks);
}

TEST_F(PlayBackTest, AFileShorterThanItsHeaderEnds) {
  const std::string path = MakeFile(1000, 1, 6000);
  fs::resize_file(path, 44 + 2 + 300 * 2);  // the data chunk still claims 1000 frames
  TWavRingBufRecorder rec(Ui);
  Listen(rec);
  Ui.Answer = path;
  rec.PlayBack(true);
  EXPECT_EQ(Blocks.size(), 2u + kPlayBackFlushBlocks);
}

}  // namespace
}  // namespace brenvo
