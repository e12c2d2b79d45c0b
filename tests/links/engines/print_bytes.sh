#!/bin/sh
# A scripted engine: writes BRENVO_ENGINE_BYTES (octal escapes such as \101)
# to standard output and exits with BRENVO_ENGINE_EXIT (default 0). Started
# with anything but the single argument "-r" it exits with 64.
[ "$#" -eq 1 ] && [ "$1" = "-r" ] || exit 64
printf "${BRENVO_ENGINE_BYTES:-}"
exit "${BRENVO_ENGINE_EXIT:-0}"
