#include "receiver/decoder_startup.h"

#include <memory>

#include "callsigns/callsign_validator.h"
#include "decoder/message_hmm.h"
#include "decoder/message_statistics.h"
#include "decoder/rtty_bit_hmm.h"

namespace brenvo {

void StartDecoderGlobals(const std::string& contestFile) {
  auto stats = std::make_shared<TRttyMessageStatistics>();
  InitMessageStatistics(*stats);
  PublishMessageStatistics(std::move(stats));
  // The Baudot tables are compile-time constants.
  (void)BitHmm();
  // The program's settings loader always applies the saved contest ("DX" at
  // first) before anything is decoded: the built-in CQ words and exchanges
  // give way to the file's section, and without the file or the section both
  // lists stay empty. Decoding here must match the program's. This builds
  // the message model too.
  SetMessageContestFromFile("DX", contestFile);
  CallValidator = std::make_unique<TCallsignValidator>();
}

void StartDecoderGlobals() { StartDecoderGlobals(GetContestsIniFileName()); }

}  // namespace brenvo
