#!/bin/sh
# An engine that starts children of its own, one in the background and one
# under nohup, writes their process ids to $BRENVO_ENGINE_PIDS and waits.
sleep 1000 >/dev/null 2>&1 &
first=$!
nohup sleep 1000 >/dev/null 2>&1 &
echo "$first $!" > "$BRENVO_ENGINE_PIDS.part"
mv "$BRENVO_ENGINE_PIDS.part" "$BRENVO_ENGINE_PIDS"
wait
