#!/bin/sh
# An engine that starts children of its own, one in the background and one
# under nohup, writes their process ids to $BRENVO_ENGINE_PIDS and waits.
# Each child notes a SIGTERM as a line in $BRENVO_ENGINE_PIDS.term; the first
# then ends, the second carries on, so only SIGKILL stops it.
if [ "$1" = child ]; then
  trap "echo $2 >> '$BRENVO_ENGINE_PIDS.term'; [ $2 = stays ] || exit 0" TERM
  : > "$BRENVO_ENGINE_PIDS.$2"
  while :; do sleep 1; done
fi
"$0" child ends >"$BRENVO_ENGINE_PIDS.out" 2>&1 &
first=$!
nohup "$0" child stays >"$BRENVO_ENGINE_PIDS.out" 2>&1 &
# Both catch SIGTERM before they are named.
while [ ! -e "$BRENVO_ENGINE_PIDS.ends" ] || [ ! -e "$BRENVO_ENGINE_PIDS.stays" ]; do sleep 0.01; done
echo "$first $!" > "$BRENVO_ENGINE_PIDS.part"
mv "$BRENVO_ENGINE_PIDS.part" "$BRENVO_ENGINE_PIDS"
wait
