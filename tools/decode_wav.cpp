// decode_wav [--right] [--usb] [--jobs N] [--] FILE.wav
//
// Plays a 6000 Hz WAV recording through the decoding road exactly as the
// program's play-back does (blocks of 128 frames read one by one, a final
// short block not played, then a second of silence so that the text of the
// file's end comes out) and prints one JSON object: the file, the audio and
// CPU seconds of the decoding loop, and for every channel that lived during
// the file its tone bins when it was made and at its end, its first and last
// spectrum, its corrected and raw text as the main view would show it had
// that channel been selected all along, and its best call.
//
// --right takes the right channel of a stereo file; --usb decodes in upper
// sideband (mark tone above the space tone) instead of lower; --jobs decodes
// the channels on N threads (1 to 256; all cores by default) while the main
// one works out the spectra ahead of them, which changes nothing in the
// output but the times; "--" ends the options, so that a file name may start
// with "-". Exit status 2 on a bad command line, a file that cannot be read,
// a sample rate other than 6000 Hz, --right on a mono file, or a contest file
// that cannot be used.
#include <time.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "audio/qyx_wav_file.h"
#include "audio/wav_ring_buf_recorder.h"
#include "receiver/decoder_startup.h"
#include "receiver/decoding_road.h"
#include "receiver/road_transcript.h"

namespace {

using brenvo::TDataBufferF;

constexpr int kExitBadInput = 2;
constexpr const char* kUsage = "usage: decode_wav [--right] [--usb] [--jobs N] [--] FILE.wav";
constexpr int kMaxJobs = 256;
constexpr std::size_t kBatchBlocks = 256;  // 5.5 s of audio

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int Fail(const std::string& msg) {
  std::fprintf(stderr, "decode_wav: %s\n", msg.c_str());
  return kExitBadInput;
}

struct TOptions {
  bool Right = false;
  bool Usb = false;
  int Jobs = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxJobs);
  std::string File;
};

bool ParseCommandLine(int argc, char** argv, TOptions& o) {
  bool optionsEnd = false;
  bool haveFile = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (!optionsEnd && a == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && a == "--right") {
      o.Right = true;
    } else if (!optionsEnd && a == "--usb") {
      o.Usb = true;
    } else if (!optionsEnd && a == "--jobs" && i + 1 < argc) {
      const std::string n = argv[++i];
      const auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), o.Jobs);
      if (ec != std::errc() || end != n.data() + n.size() || o.Jobs < 1 || o.Jobs > kMaxJobs) return false;
    } else if (!haveFile && !a.empty() && (optionsEnd || a[0] != '-')) {
      o.File = a;
      haveFile = true;
    } else {
      return false;
    }
  }
  return haveFile;
}

// Refuses, before anything is decoded, what play-back would refuse or what
// would decode nothing but the user's mistake.
bool CheckFile(const TOptions& o, std::string& error) {
  try {
    brenvo::TQyxWavFile wav;
    wav.SetFileName(o.File);
    wav.OpenRead();
    const uint32_t rate = wav.SamplesPerSec();
    const uint32_t channels = wav.ChannelCount();
    wav.Close();
    if (rate != brenvo::TWavRingBufRecorder::kSampleRate) {
      error = o.File + ": sample rate " + std::to_string(rate) + " Hz, must be 6000 Hz";
      return false;
    }
    if (o.Right && channels < 2) {
      error = o.File + ": --right asks for the right channel, but the file has only one channel";
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    error = "cannot read " + o.File + ": " + e.what();
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  TOptions opt;
  if (!ParseCommandLine(argc, argv, opt)) return Fail(kUsage);
  std::string error;
  if (!CheckFile(opt, error)) return Fail(error);
  try {
    brenvo::StartDecoderGlobals();
  } catch (const std::exception& e) {
    return Fail(e.what());
  }

  try {
    brenvo::TDecodingRoad road;
    road.RightChannel = opt.Right;
    road.Chans.SetUsb(opt.Usb);
    road.SetJobs(opt.Jobs);
    brenvo::TRoadTranscript transcript(road.Chans);

    // The road takes the blocks in batches: its channels then run over
    // several blocks at a time, and its front end runs ahead of them.
    std::vector<TDataBufferF> batch(kBatchBlocks);
    std::size_t batched = 0;
    const auto decodeBatch = [&] {
      road.AudioBlocksArrived(std::span<const TDataBufferF>(batch.data(), batched));
      batched = 0;
    };
    const brenvo::TDataEvent decode = [&](const void*, const brenvo::TDataBufferI&, const TDataBufferF& in,
                                          TDataBufferF&) {
      batch[batched++] = in;
      if (batched == batch.size()) decodeBatch();
    };
    // The clock is read once on each side of the play-back (a system call
    // per block would be a measurable share of the time): the blocks are
    // read as the decoding goes, so their reading counts too.
    const double cpu0 = ProcessCpuSeconds();
    int64_t blocks = 0;
    try {
      blocks = brenvo::PlayWavFile(opt.File, decode, nullptr);
      decodeBatch();
    } catch (const brenvo::EWavFileError& e) {
      return Fail("cannot read " + opt.File + ": " + e.what());
    }
    const double cpu = ProcessCpuSeconds() - cpu0;
    transcript.Finish();

    const double audio =
        static_cast<double>(blocks) * brenvo::TDecodingRoad::kBlockFrames / brenvo::TWavRingBufRecorder::kSampleRate;
    nlohmann::ordered_json out;
    out["file"] = opt.File;
    out["audio_seconds"] = audio;
    out["cpu_seconds"] = cpu;
    out["realtime_factor"] = cpu > 0 ? audio / cpu : 0.0;
    nlohmann::ordered_json channels = nlohmann::ordered_json::array();
    for (const brenvo::TChannelTranscript& t : transcript.Channels()) {
      nlohmann::ordered_json c;
      c["id"] = t.Id;
      c["first_mark_bin"] = t.FirstMarkBin;
      c["first_space_bin"] = t.FirstSpaceBin;
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
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      std::fprintf(stderr, "decode_wav: cannot write the result\n");
      return 1;
    }
    // The decoding objects (the message model's tree, the callsign table,
    // the channels) live to the end of the process: ending it here spares
    // freeing them piece by piece, a tenth of a short recording's start-up.
    std::_Exit(0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "decode_wav: %s\n", e.what());
    return 1;
  }
}
