#!/bin/sh
# A runaway engine: endless binary output.
exec cat /dev/urandom
