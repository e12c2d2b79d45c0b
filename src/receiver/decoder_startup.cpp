#include "receiver/decoder_startup.h"

#include <filesystem>
#include <memory>

#include "callsigns/callsign_validator.h"
#include "decoder/message_hmm.h"
#include "decoder/message_statistics.h"
#include "decoder/rtty_bit_hmm.h"

namespace brenvo {

void StartDecoderGlobals(const std::string& contestFile) {
  auto stats = std::make_shared<TRttyMessageStatistics>();
  InitMessageStatistics(*stats);
  std::error_code ec;
  if (!contestFile.empty() && std::filesystem::is_regular_file(contestFile, ec))
    LoadContestFromFile(*stats, "DX", contestFile);
  PublishMessageStatistics(std::move(stats));
  // The Baudot tables are compile-time constants.
  (void)BitHmm();
  RebuildMessageHmm();
  CallValidator = std::make_unique<TCallsignValidator>();
}

void StartDecoderGlobals() { StartDecoderGlobals(GetContestsIniFileName()); }

}  // namespace brenvo
