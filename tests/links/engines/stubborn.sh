#!/bin/sh
# A scripted engine that never ends by itself and ignores SIGTERM: only
# SIGKILL stops it.
trap '' TERM
printf 'RY'
while :; do sleep 1; done
