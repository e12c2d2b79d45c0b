// Start-up of the process-wide decoding objects for a program without the
// main window (decode_wav, tests), in the program's order:
// message statistics with the contest "DX", Baudot tables (built at compile
// time), bit-level model, message-level model, callsign validator.
#pragma once

#include <string>

namespace brenvo {

// The contest "DX" is applied from ContestFile as the program's start-up does:
// its CQ words and exchanges replace the built-in ones, and a missing file or
// section leaves both lists empty. The callsign validator loads its
// files from the data folders. Call again to rebuild everything (no receiver
// may be decoding meanwhile; reset correctors afterwards). Exceptions of the
// contest loader (a bad probability or pattern, or one beyond a limit of the
// message model, named with the file, section and key) pass to the caller.
void StartDecoderGlobals(const std::string& ContestFile);
// The same with the data folder's contest file (GetContestsIniFileName()).
void StartDecoderGlobals();

}  // namespace brenvo
