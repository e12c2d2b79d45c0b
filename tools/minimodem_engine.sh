#!/bin/sh
# minimodem as BRENVO's external decoder engine: decodes RTTY (45.45 Bd,
# 170 Hz shift, 1.5 stop bits) from the soundcard and writes the text to
# standard output, where BRENVO reads it. Name this file as ExternalExe in
# section [Decoders] of the settings file.
#
# BRENVO starts it with the argument "-r", which is dropped here; any other
# argument goes to minimodem, before the mode (e.g. -a to find the tones by
# themselves, -M 2125 -S 2295 for other tones, --alsa, -f recording.wav).
for a; do
  shift
  [ "$a" = "-r" ] || set -- "$@" "$a"
done
# Unbuffered, so that each character reaches BRENVO as it is decoded.
exec stdbuf -o0 minimodem --rx --quiet "$@" rtty
