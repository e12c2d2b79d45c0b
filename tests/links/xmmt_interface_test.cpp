#include "links/xmmt_interface.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "audio/qyx_wav_file.h"
#include "decoder/baudot_table.h"
#include "decoder/message_hmm.h"
#include "receiver/message_text_model.h"
#include "support/rtty_synth.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

const std::string kEngines = std::string(BRENVO_SOURCE_DIR) + "/tests/links/engines/";

// The engine's view as the window sets it up; Records: the newest record of
// every batch, so every record in the order of arrival.
struct Harness : IMessageView {
  TMessageTextModel Model;
  TCharInfoArray Records;
  bool Throw = false;
  bool ThrowOnStart = false;  // the status callback fails when the engine starts
  std::vector<std::string> Statuses;
  int64_t Pid = 0;  // noted when the engine starts
  TXmmtInterface Link{this};

  Harness() {
    Model.ShowCorrected = true;
    Link.OnShowStatus = [this](const std::string& s) {
      Statuses.push_back(s);
      if (s.empty()) Pid = Link.EnginePid();
      if (s.empty() && ThrowOnStart) throw EBrenvoError("status failed");
    };
  }
  void PutText(const TCharInfoArray& NewChars, const TCharInfoArray& OldChars) override {
    if (Throw) throw EBrenvoError("view failed");
    EXPECT_EQ(NewChars.size(), OldChars.size() + 1);
    // Weak exactly where the corrector changed the character.
    for (const TCharInfo& r : NewChars) EXPECT_EQ(r.CorrFlags.Has(cfWeak), r.CorrCh != r.RawCh);
    Model.PutText(NewChars, OldChars);
    Records.push_back(NewChars.back());
  }
  void PutQsxBar(int32_t) override {}
  TFreezeState FreezeState() const override { return fsOff; }

  bool Ended() const { return !Statuses.empty() && Statuses.back().rfind(TXmmtInterface::kNotConnected, 0) == 0; }
  void Start(const std::string& exe) {
    Link.SetExternalExe(exe);
    Link.SetConnected(true);
  }
};

// Runs the event loop until done() holds; the deadline only guards against a hang.
bool RunUntil(const std::function<bool()>& done) {
  for (QDeadlineTimer deadline(60000); !done();) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Gone and reaped: a zombie still answers signal 0.
bool Reaped(int64_t pid) { return pid > 0 && ::kill(pid_t(pid), 0) == -1 && errno == ESRCH; }

void RunPrintBytes(Harness& h, const std::string& bytes, int exitCode = 0,
                   const std::string& exe = kEngines + "print_bytes.sh") {
  std::string octal;
  for (unsigned char c : bytes) octal += {'\\', char('0' + (c >> 6)), char('0' + (c >> 3 & 7)), char('0' + (c & 7))};
  qputenv("BRENVO_ENGINE_BYTES", QByteArray::fromStdString(octal));
  qputenv("BRENVO_ENGINE_EXIT", QByteArray::number(exitCode));
  h.Start(exe);
  ASSERT_TRUE(RunUntil([&] { return h.Ended(); }));
}

TEST(XmmtInterface, EngineBytesBecomeShiftAndCharacterRecords) {
  std::string everyByte;
  for (int b = 0; b < 256; ++b) everyByte += char(b);
  const struct {
    std::string Sent, Records;  // Records: RawCh in order; empty: not checked
    bool FigsAfter;
  } cases[] = {
      {"RY 5", "\xBBR\xBBY\xBB_\xAB" "5", true},
      {"5\n", "\xAB" "5\xBB|", false},
      {"5\r", "\xAB" "5\xBB\xA6", false},
      {"5\n5", "\xAB" "5\xBB|\xAB" "5", true},
      {"a=\x01", "\xAB\xBB\xAB\xBB\xAB\xBB", true},  // outside the tables
      {everyByte, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Sent.substr(0, 8));
    Harness h;
    RunPrintBytes(h, c.Sent);
    EXPECT_EQ(h.Link.DisconnectStatus(), 0);  // also: started with exactly "-r"
    ASSERT_EQ(h.Records.size(), 2 * c.Sent.size());
    std::string raw;
    for (const TCharInfo& r : h.Records) {
      raw += char(r.RawCh);
      // Well formed: the bits say the record's own character, near certainly.
      const uint8_t code = CodeTable[r.RawCh];
      ASSERT_NE(code, kNoCode);
      for (int i = 0; i < 5; ++i) EXPECT_EQ(r.BitProbs[i], (code >> i) & 1 ? 0.999999f : 1e-6f);
    }
    EXPECT_EQ(raw, c.Records.empty() ? raw : c.Records);
    EXPECT_EQ(h.Link.Figs(), c.FigsAfter);
  }
}

// The view checks the weak flags of every batch; here the model turns some
// ";" into "V", the letter of the same code, which the storage alone does not
// call weak.
TEST(XmmtInterface, WeakAlsoWhereTheStorageIsSureOfTheChangedCharacter) {
  Harness h;
  RunPrintBytes(h, "CQ CQ DE K1ABC ;;;;;;;;;; K");
  int changedButSure = 0;
  for (int i = 0; i <= h.Link.Ms().HiChar(); ++i) {
    const TCharInfo& r = h.Link.Ms().Char(i);
    changedButSure += r.CorrCh != r.RawCh && !r.CorrFlags.Has(cfWeak);
  }
  EXPECT_GT(changedButSure, 0);
}

TEST(XmmtInterface, ResetAfterAContestChangeStartsInLetters) {
  Harness h;
  RunPrintBytes(h, "5");
  ASSERT_TRUE(h.Link.Figs());
  const std::string contests = std::string(BRENVO_SOURCE_DIR) + "/data/Contests.ini";
  SetMessageContestFromFile("CQ WW RTTY DX", contests);
  h.Link.Reset();
  EXPECT_FALSE(h.Link.Figs());
  EXPECT_EQ(h.Link.Ms().HiChar(), -1);
  EXPECT_EQ(h.Link.Mc().Model(), MessageHmm());
  SetMessageContestFromFile("DX", contests);
}

TEST(XmmtInterface, EngineEndsShowNotConnectedWithTheReasonAndLeaveNoZombie) {
  testing::TempDir dir;
  const std::string blanks = (dir.Path() / "an engine").string(), plain = (dir.Path() / "plain").string();
  std::filesystem::create_symlink(kEngines + "print_bytes.sh", blanks);
  std::ofstream(plain) << "#!/bin/sh\n";
  const std::string missing = (dir.Path() / "missing").string(), folder = dir.Path().string();
  const struct {
    std::function<void(Harness&)> Run;
    int Status;
    std::string Text;  // after "Not Connected: "
  } cases[] = {
      {[&](Harness& h) { h.Start(missing); }, TXmmtInterface::kStatusFailedToStart, missing + ": not found"},
      {[&](Harness& h) { h.Start(folder); }, TXmmtInterface::kStatusFailedToStart, folder + ": is a folder"},
      {[&](Harness& h) { h.Start(plain); }, TXmmtInterface::kStatusFailedToStart, plain + ": not executable"},
      {[](Harness& h) { h.Start("brenvo-no-such-engine"); }, TXmmtInterface::kStatusFailedToStart,
       "brenvo-no-such-engine: not found"},  // looked for along PATH
      {[](Harness& h) { RunPrintBytes(h, "", 3); }, 3, kEngines + "print_bytes.sh exited with status 3"},
      {[&](Harness& h) { RunPrintBytes(h, "", 5, blanks); }, 5, blanks + " exited with status 5"},
      {[](Harness& h) {
         h.Start(kEngines + "stubborn.sh");
         ASSERT_TRUE(RunUntil([&] { return h.Pid != 0; }));
         ::kill(pid_t(h.Pid), SIGKILL);
       }, TXmmtInterface::kStatusCrashed, kEngines + "stubborn.sh ended by a signal"},
      {[](Harness& h) { h.Throw = true; h.Start(kEngines + "stubborn.sh"); }, TXmmtInterface::kStatusLinkError,
       "view failed"},
      {[](Harness& h) { h.ThrowOnStart = true; h.Start(kEngines + "stubborn.sh"); },
       TXmmtInterface::kStatusLinkError, "status failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    Harness h;
    c.Run(h);
    ASSERT_TRUE(RunUntil([&] { return h.Ended(); }));
    EXPECT_EQ(h.Statuses.back(), std::string(TXmmtInterface::kNotConnected) + ": " + c.Text);
    EXPECT_FALSE(h.Link.Connected());
    EXPECT_EQ(h.Link.DisconnectStatus(), c.Status);
    EXPECT_EQ(h.Pid == 0, c.Status == TXmmtInterface::kStatusFailedToStart);
    EXPECT_TRUE(h.Pid == 0 || Reaped(h.Pid));
  }
}

// Dead: gone, or a zombie that is not ours to reap.
bool Dead(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  const std::size_t close = text.rfind(')');
  return text.empty() || (close != std::string::npos && text.substr(close + 2, 1) == "Z");
}

// The children get SIGTERM first, so they may end cleanly; one that carries on
// gets SIGKILL.
TEST(XmmtInterface, StoppingTheEngineEndsWhatItStarted) {
  testing::TempDir dir;
  for (bool destroyed : {false, true}) {
    SCOPED_TRACE(destroyed);
    const std::string pidFile = (dir.Path() / (destroyed ? "pids1" : "pids0")).string();
    qputenv("BRENVO_ENGINE_PIDS", QByteArray::fromStdString(pidFile));
    pid_t children[2] = {0, 0};
    {
      Harness h;
      h.Start(kEngines + "forking.sh");
      ASSERT_TRUE(RunUntil([&] { return std::filesystem::exists(pidFile); }));
      std::ifstream(pidFile) >> children[0] >> children[1];
      ASSERT_TRUE(children[0] > 0 && children[1] > 0);
      if (!destroyed) h.Link.SetConnected(false);
    }
    for (pid_t c : children) {
      EXPECT_TRUE(RunUntil([&] { return Dead(c); })) << c;
      if (!Dead(c)) ::kill(c, SIGKILL);
    }
    std::set<std::string> terminated;
    std::ifstream terms(pidFile + ".term");
    for (std::string name; terms >> name;) terminated.insert(name);
    EXPECT_EQ(terminated, (std::set<std::string>{"ends", "stays"}));
  }
}

TEST(XmmtInterface, StoppingAnEngineThatIgnoresTerminateKillsAndReapsIt) {
  for (int how = 0; how < 3; ++how) {  // destroyed, disconnected, started again
    SCOPED_TRACE(how);
    int64_t pid = 0;
    {
      Harness h;
      h.Start(kEngines + "stubborn.sh");
      // Its output comes after it has set itself to ignore SIGTERM.
      ASSERT_TRUE(RunUntil([&] { return h.Records.size() == 4; }));
      pid = h.Pid;
      h.Statuses.clear();
      if (how > 0) {
        h.Link.SetConnected(how == 2);
        EXPECT_TRUE(Reaped(pid));
        EXPECT_EQ(h.Link.Connected(), how == 2);
        EXPECT_TRUE(how == 1 || RunUntil([&] { return h.Pid != pid && !h.Statuses.empty(); }));
        pid = h.Pid;  // the engine started again must be reaped too
      }
      // A stop of ours is no engine failure: nothing reaches the view.
      for (const std::string& s : h.Statuses) EXPECT_EQ(s, "");
      h.Link.OnShowStatus = [](const std::string&) { ADD_FAILURE() << "callback while closing"; };
    }
    EXPECT_TRUE(Reaped(pid));
  }
}

TEST(XmmtInterface, FloodingEngineIsReadInBoundedChunksPerTurn) {
  Harness h;
  h.Start(kEngines + "flood.sh");
  std::size_t last = 0, most = 0;
  int turns = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    most = std::max(most, h.Records.size() - last);
    last = h.Records.size();
    ++turns;
  });
  tick.start(0);
  ASSERT_TRUE(RunUntil([&] { return turns >= 50 && last > 0; }));
  EXPECT_LE(most, 4u * TXmmtInterface::kReadChunk);  // two records a byte, perhaps two reads a turn
}

TEST(XmmtInterface, MinimodemDecodesARecordingIntoTheView) {
  const std::string text = "CQ CQ DE DL1ABC DL1ABC PSE K";  // the model leaves it as it is
  const testing::RttySynthParams p{.MarkHz = 1585, .SpaceHz = 1415, .IdleBeforeSec = 1.0};  // minimodem's tones
  testing::TempDir dir;
  TQyxWavFile w;
  w.SetFileName((dir.Path() / "rtty.wav").string());
  w.SetSamplesPerSec(6000);
  w.OpenWrite();
  w.Write(TDataBufferF{testing::SynthesizeText(p, "\r\n" + text + "\r\n").Samples});
  w.Close();

  qputenv("BRENVO_ENGINE_WAV", QByteArray::fromStdString(w.FileName()));
  Harness h;
  h.Start(kEngines + "minimodem_file.sh");
  ASSERT_TRUE(RunUntil([&] { return h.Ended(); }));
  EXPECT_EQ(h.Link.DisconnectStatus(), 0) << "minimodem missing? (scripts/install-deps.sh)";
  ASSERT_FALSE(h.Model.Lines().empty());
  EXPECT_EQ(h.Model.Lines().back(), text);
}

}  // namespace
}  // namespace brenvo
