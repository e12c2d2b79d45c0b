// decode_wav [--right] FILE.wav
//
// Plays a 6000 Hz WAV recording through the decoding road exactly as the
// program's play-back does (blocks of 128 frames; a final short block is not
// played) and prints one JSON object: the file, the audio and CPU seconds of
// the decoding loop, and for every channel that lived during the file its
// tone bins, its first and last spectrum, its corrected and raw text as the
// main view would show it had that channel been selected all along, and its
// best call. Exit status 2 on a bad command line, a file that cannot be read
// or a sample rate other than 6000 Hz.
#include <time.h>

#include <cstdio>
#include <exception>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "audio/qyx_wav_file.h"
#include "receiver/decoder_startup.h"
#include "receiver/decoding_road.h"
#include "receiver/road_transcript.h"

namespace {

using brenvo::TDataBufferF;

constexpr int kExitBadInput = 2;
constexpr uint32_t kRate = 6000;

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int Fail(const std::string& msg) {
  std::fprintf(stderr, "decode_wav: %s\n", msg.c_str());
  return kExitBadInput;
}

// The file's blocks, read as play-back reads them.
bool ReadBlocks(const std::string& name, std::vector<TDataBufferF>& blocks, std::string& error) {
  try {
    brenvo::TQyxWavFile wav;
    wav.SetFileName(name);
    wav.OpenRead();
    if (wav.SamplesPerSec() != kRate) {
      error = name + ": sample rate " + std::to_string(wav.SamplesPerSec()) + " Hz, must be 6000 Hz";
      return false;
    }
    const int32_t frames = brenvo::TDecodingRoad::kBlockFrames;
    while (static_cast<int64_t>(wav.CurrentSample()) + frames <= wav.SampleCnt()) {
      TDataBufferF block;
      wav.Read(frames, block);
      if (block.empty() || static_cast<int32_t>(block[0].size()) < frames) break;
      blocks.push_back(std::move(block));
    }
    wav.Close();
    return true;
  } catch (const std::exception& e) {
    error = "cannot read " + name + ": " + e.what();
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool right = false;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--right" && !right) {
      right = true;
    } else if (file.empty() && !a.empty() && a[0] != '-') {
      file = a;
    } else {
      file.clear();
      break;
    }
  }
  if (file.empty()) return Fail("usage: decode_wav [--right] FILE.wav");

  std::vector<TDataBufferF> blocks;
  std::string error;
  if (!ReadBlocks(file, blocks, error)) return Fail(error);

  try {
    brenvo::StartDecoderGlobals();
    brenvo::TDecodingRoad road;
    road.RightChannel = right;
    brenvo::TRoadTranscript transcript(road.Chans);

    const double cpu0 = ProcessCpuSeconds();
    for (const TDataBufferF& b : blocks) road.AudioDataArrived(b);
    const double cpu = ProcessCpuSeconds() - cpu0;
    transcript.Finish();

    const double audio = static_cast<double>(blocks.size()) * brenvo::TDecodingRoad::kBlockFrames / kRate;
    nlohmann::ordered_json out;
    out["file"] = file;
    out["audio_seconds"] = audio;
    out["cpu_seconds"] = cpu;
    out["realtime_factor"] = cpu > 0 ? audio / cpu : 0.0;
    nlohmann::ordered_json channels = nlohmann::ordered_json::array();
    for (const brenvo::TChannelTranscript& t : transcript.Channels()) {
      nlohmann::ordered_json c;
      c["id"] = t.Id;
      c["mark_bin"] = t.MarkBin;
      c["space_bin"] = t.SpaceBin;
      c["first_spectrum"] = t.FirstSpectrum;
      c["last_spectrum"] = t.LastSpectrum;
      c["corrected"] = t.Corrected.Utf8Text();
      c["raw"] = t.Raw.Utf8Text();
      c["best_call"] = t.BestCall;
      channels.push_back(std::move(c));
    }
    out["channels"] = std::move(channels);
    // A file name is any bytes: one that is not UTF-8 is printed with
    // replacement characters rather than losing the whole result.
    std::printf("%s\n", out.dump(1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "decode_wav: %s\n", e.what());
    return 1;
  }
}
