// Checks decode_wav end to end: writes synthesised recordings, runs the
// program on them and checks its JSON (the text and tone bins of each
// signal) and its exit status on bad input. Usage: decode_wav_check
// PATH_TO_decode_wav. Prints "N passed, M failed"; exit status 1 on a failure.
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "audio/qyx_wav_file.h"
#include "support/rtty_synth.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using brenvo::TSingleArray;

int g_passed = 0, g_failed = 0;

void Check(bool ok, const std::string& what) {
  if (ok) {
    ++g_passed;
  } else {
    ++g_failed;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

void WriteWav(const fs::path& name, const std::vector<TSingleArray>& channels, uint32_t rate) {
  brenvo::TQyxWavFile wav;
  wav.SetFileName(name.string());
  wav.SetChannelCount(static_cast<uint32_t>(channels.size()));
  wav.SetSamplesPerSec(rate);
  wav.SetBytesPerSample(2);
  wav.OpenWrite();
  wav.Write(channels);
  wav.Close();
}

struct TRun {
  int Status = -1;
  std::string Out;
};

TRun Run(const std::string& cmd) {
  TRun r;
  FILE* p = popen((cmd + " 2>/dev/null").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.Out.append(buf, n);
  const int st = pclose(p);
  r.Status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

int BinOf(double hz) { return static_cast<int>(std::nearbyint(hz * 256.0 / 3000.0)); }

struct TSent {
  double MarkHz, SpaceHz;
  std::string Text;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: decode_wav_check PATH_TO_decode_wav\n");
    return 2;
  }
  const std::string prog = argv[1];
  brenvo::testing::TempDir dir;
  const bool keep = std::getenv("DECODE_WAV_CHECK_KEEP") != nullptr;
  // The program reads its data folder: give it one with the shipped contest
  // file in place, as the run command installs it, and no call lists.
  const fs::path data = dir.Path() / "data";
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  const fs::path contests = data / "Quellan" / "Products" / "Holmcast" / "Contests.ini";
  fs::create_directories(contests.parent_path());
  fs::copy_file(fs::path(BRENVO_SOURCE_DIR) / "data" / "Contests.ini", contests);

  // Two signals in lower sideband on the left channel, silence on the right.
  // The file ends with the first signal's last character: the decoder must
  // still give it out.
  const std::vector<TSent> sent = {{1275.0, 1445.0, "CQ CQ DE DL1ABC DL1ABC K  CQ CQ DE DL1ABC DL1ABC K"},
                                   {2125.0, 2295.0, "RYRY CQ TEST DE K1XYZ K1XYZ TEST"}};
  TSingleArray left;
  for (std::size_t i = 0; i < sent.size(); ++i) {
    brenvo::testing::RttySynthParams p;
    p.MarkHz = sent[i].MarkHz;
    p.SpaceHz = sent[i].SpaceHz;
    p.SnrDb = 15.0;
    p.Seed = 40 + i;
    p.LeadSilenceSec = 0.5 + 0.7 * static_cast<double>(i);
    p.IdleBeforeSec = 1.0;
    p.IdleAfterSec = 0.0;
    p.Amplitude = 4000.0 * 65536.0;
    const auto sig = brenvo::testing::SynthesizeText(p, sent[i].Text);
    if (left.size() < sig.Samples.size()) left.resize(sig.Samples.size(), 0.0f);
    for (std::size_t k = 0; k < sig.Samples.size(); ++k) left[k] += sig.Samples[k];
  }
  const TSingleArray silence(left.size(), 0.0f);
  const fs::path stereo = dir.Path() / "two signals.wav";
  WriteWav(stereo, {left, silence}, 6000);

  const TRun r = Run("\"" + prog + "\" \"" + stereo.string() + "\"");
  Check(r.Status == 0, "decode_wav exits 0 on a good file");
  if (keep) std::printf("%s\n", r.Out.c_str());
  nlohmann::json j;
  try {
    j = nlohmann::json::parse(r.Out);
  } catch (const std::exception& e) {
    Check(false, std::string("JSON parses: ") + e.what());
  }
  if (j.is_object()) {
    Check(j.value("file", "") == stereo.string(), "file member");
    const double blocks = std::floor(static_cast<double>(left.size()) / 128.0);
    Check(std::fabs(j.value("audio_seconds", 0.0) - blocks * 128.0 / 6000.0) < 1e-9, "audio seconds: whole blocks only");
    Check(j.value("cpu_seconds", -1.0) > 0.0, "cpu seconds");
    Check(j.value("realtime_factor", 0.0) > 1.0, "faster than real time");
    // Parsed objects sort their keys: the order is checked on the text.
    const auto pos = [&](const char* k) { return r.Out.find(std::string("\"") + k + "\""); };
    Check(pos("file") < pos("audio_seconds") && pos("audio_seconds") < pos("cpu_seconds") &&
              pos("cpu_seconds") < pos("realtime_factor") && pos("realtime_factor") < pos("channels") &&
              pos("id") < pos("first_mark_bin") && pos("first_mark_bin") < pos("first_space_bin") &&
              pos("first_space_bin") < pos("mark_bin") && pos("mark_bin") < pos("space_bin") &&
              pos("space_bin") < pos("first_spectrum") && pos("first_spectrum") < pos("last_spectrum") &&
              pos("last_spectrum") < pos("corrected") && pos("corrected") < pos("raw") && pos("raw") < pos("best_call"),
          "members in order");
    for (const TSent& s : sent) {
      bool found = false;
      for (const auto& c : j["channels"]) {
        // The frequency control keeps the bins within one of the tones.
        if (std::abs(c["mark_bin"].get<int>() - BinOf(s.MarkHz)) > 1 ||
            std::abs(c["space_bin"].get<int>() - BinOf(s.SpaceHz)) > 1 ||
            std::abs(c["first_mark_bin"].get<int>() - BinOf(s.MarkHz)) > 1 ||
            std::abs(c["first_space_bin"].get<int>() - BinOf(s.SpaceHz)) > 1)
          continue;
        found = true;
        const std::string raw = c["raw"], corr = c["corrected"];
        Check(raw.find(s.Text) != std::string::npos, "raw text of " + s.Text + ": got \"" + raw + "\"");
        Check(corr.find(s.Text) != std::string::npos, "corrected text of " + s.Text + ": got \"" + corr + "\"");
        Check(c["first_spectrum"].get<int64_t>() < c["last_spectrum"].get<int64_t>(), "spectrum range");
        if (s.Text.find("DL1ABC") != std::string::npos) Check(c["best_call"] == "DL1ABC", "best call of " + s.Text);
      }
      Check(found, "a channel at the bins of " + s.Text);
    }
  }

  // Channel 1 stands at the default tones from the start, whatever comes.
  auto channelOne = [](const std::string& out) {
    const nlohmann::json r = nlohmann::json::parse(out, nullptr, false);
    return r.is_object() && !r["channels"].empty() ? r["channels"][0] : nlohmann::json();
  };
  const nlohmann::json c1 = channelOne(r.Out);
  Check(c1.is_object() && c1["id"] == 1 && c1["first_mark_bin"] == 181 && c1["first_space_bin"] == 196,
        "channel 1 at the default tones of lower sideband");

  // Upper sideband: mark above space. Decoded with --usb only.
  const std::string usbText = "CQ TEST DE W1AW W1AW K";
  brenvo::testing::RttySynthParams u;
  u.MarkHz = 1445.0;
  u.SpaceHz = 1275.0;
  u.SnrDb = 15.0;
  u.Seed = 7;
  u.LeadSilenceSec = 0.5;
  u.IdleBeforeSec = 1.0;
  u.Amplitude = 4000.0 * 65536.0;
  WriteWav(dir.Path() / "-usb.wav", {brenvo::testing::SynthesizeText(u, usbText).Samples}, 6000);
  const std::string inDir = "cd \"" + dir.Path().string() + "\" && \"" + prog + "\" ";
  const TRun usb = Run(inDir + "--usb -- -usb.wav");
  Check(usb.Status == 0 && usb.Out.find(usbText) != std::string::npos, "--usb decodes upper sideband: " + usb.Out);
  const nlohmann::json u1 = channelOne(usb.Out);
  Check(u1.is_object() && u1["first_mark_bin"] == 196 && u1["first_space_bin"] == 181,
        "channel 1 at the default tones of upper sideband");
  Check(Run(inDir + "-- -usb.wav").Out.find(usbText) == std::string::npos, "lower sideband does not decode it");
  Check(Run(inDir + "-usb.wav").Status == 2, "a file name starting with - needs --");
  Check(Run(inDir + "--right -- -usb.wav").Status == 2, "--right on a mono file: exit 2");
  Check(Run(inDir + "--left -- -usb.wav").Status == 2, "an unknown option: exit 2");

  // A contest file with a bad number: exit 2.
  const fs::path badData = dir.Path() / "bad data";
  const fs::path badContests = badData / contests.lexically_relative(data);
  fs::create_directories(badContests.parent_path());
  std::ofstream(badContests) << "[DX]\nCQ1=CQ|0,5\n";
  Check(Run("XDG_DATA_HOME=\"" + badData.string() + "\" \"" + prog + "\" \"" + stereo.string() + "\"").Status == 2,
        "bad contest file: exit 2");
  // One beyond a limit on what a contest may build: the same.
  std::ofstream(badContests) << "[DX]\nEXCHANGE1=" << std::string(1025, '5') << "|1\n";
  Check(Run("XDG_DATA_HOME=\"" + badData.string() + "\" \"" + prog + "\" \"" + stereo.string() + "\"").Status == 2,
        "contest file beyond a limit: exit 2");

  // --jobs takes 1 to 256 threads, and the channels come out the same whatever the number.
  const auto channelsWith = [&](const std::string& jobs) {
    const TRun j = Run("\"" + prog + "\" --jobs " + jobs + " \"" + stereo.string() + "\"");
    const nlohmann::json parsed = nlohmann::json::parse(j.Out, nullptr, false);
    return std::pair(j.Status, parsed.is_object() ? parsed["channels"].dump() : std::string());
  };
  const auto oneJob = channelsWith("1");
  Check(oneJob.first == 0 && oneJob.second.find("DL1ABC") != std::string::npos, "--jobs 1 decodes");
  Check(channelsWith("256") == oneJob, "--jobs 256: the same channels as --jobs 1");
  Check(channelsWith("0").first == 2 && channelsWith("257").first == 2, "--jobs 0 or 257: exit 2");

  // The right channel holds only silence: nothing is decoded there.
  const TRun rr = Run("\"" + prog + "\" --right \"" + stereo.string() + "\"");
  Check(rr.Status == 0, "--right exits 0");
  Check(rr.Out.find("DL1ABC") == std::string::npos, "--right decodes the right channel");

  // A file name that is not UTF-8 still gives the whole result.
  const fs::path oddName = dir.Path() / "odd\xff name.wav";
  fs::copy_file(stereo, oddName);
  const TRun odd = Run("\"" + prog + "\" \"" + oddName.string() + "\"");
  Check(odd.Status == 0, "a file name that is not UTF-8: exit 0");
  Check(nlohmann::json::accept(odd.Out) && odd.Out.find("DL1ABC") != std::string::npos,
        "a file name that is not UTF-8: the result is printed");

  // A result that cannot be written is a failure.
  Check(Run("\"" + prog + "\" \"" + stereo.string() + "\" >/dev/full").Status == 1,
        "a result that cannot be written: exit 1");

  // Bad input: exit status 2.
  const fs::path rate = dir.Path() / "rate.wav";
  WriteWav(rate, {TSingleArray(8000, 0.0f)}, 8000);
  const fs::path junk = dir.Path() / "junk.wav";
  { std::FILE* f = std::fopen(junk.c_str(), "wb"); std::fputs("not a wave file at all", f); std::fclose(f); }
  Check(Run("\"" + prog + "\" \"" + rate.string() + "\"").Status == 2, "8000 Hz file: exit 2");
  Check(Run("\"" + prog + "\" \"" + junk.string() + "\"").Status == 2, "unreadable file: exit 2");
  Check(Run("\"" + prog + "\" \"" + (dir.Path() / "missing.wav").string() + "\"").Status == 2, "missing file: exit 2");
  Check(Run("\"" + prog + "\"").Status == 2, "no file: exit 2");

  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
