// The audio data event: raised for every block of audio, by the soundcard
// stream for each completed capture buffer and by the recorder's play-back
// for each 128-frame block.
#pragma once

#include <functional>

#include "dsp/types.h"

namespace brenvo {

// Arguments, in order: the object that raises the event (the stream or the
// recorder); the integer buffer (always empty); InBuffer, one array per
// channel of the block's samples on the 32-bit integer scale (a 16-bit s
// arrives as s * 65536; empty when the stream only renders); OutBuffer, one
// array per output channel for the handler to fill (empty from the recorder).
using TDataEvent =
    std::function<void(const void* sender, const TDataBufferI& int32Buffer, const TDataBufferF& inBuffer,
                       TDataBufferF& outBuffer)>;

}  // namespace brenvo
