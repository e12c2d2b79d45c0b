#!/bin/sh
# The shipped minimodem engine decoding the recording BRENVO_ENGINE_WAV
# instead of the soundcard.
exec "$(dirname "$0")/../../../tools/minimodem_engine.sh" "$@" -f "$BRENVO_ENGINE_WAV"
