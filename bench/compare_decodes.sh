#!/usr/bin/env bash
# Runs two builds of decode_wav on every WAV file of a folder (as written by
# make_wav_corpus) and tells whether their decoded output (every member but
# the CPU time and the real-time factor) is the same, with both real-time
# factors (the median of REPEAT runs each, old and new taking turns;
# REPEAT=1 by default). Exit status 1 when any file decodes differently.
#   [REPEAT=5] bench/compare_decodes.sh OLD_decode_wav NEW_decode_wav FOLDER
# e.g. with an older build's decode_wav copied to /tmp:
#   build/release/bench/make_wav_corpus build/corpus
#   bench/compare_decodes.sh /tmp/decode_wav build/release/tools/decode_wav build/corpus
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: [REPEAT=n] $0 OLD_decode_wav NEW_decode_wav FOLDER" >&2
  exit 2
fi
old=$1 new=$2 dir=$3
repeat=${REPEAT:-1}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
differ=0
factor() { sed -n 's/^ *"realtime_factor": *\([0-9.]*\).*/\1/p' "$1"; }
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
printf '%-40s %-9s %10s %10s\n' file output old_x new_x
for f in "$dir"/*.wav; do
  : >"$tmp/old.x"
  : >"$tmp/new.x"
  for ((i = 0; i < repeat; i++)); do
    "$old" "$f" >"$tmp/old.json"
    "$new" "$f" >"$tmp/new.json"
    factor "$tmp/old.json" >>"$tmp/old.x"
    factor "$tmp/new.json" >>"$tmp/new.x"
  done
  if diff <(grep -v '"cpu_seconds"\|"realtime_factor"' "$tmp/old.json") \
          <(grep -v '"cpu_seconds"\|"realtime_factor"' "$tmp/new.json") >/dev/null; then
    same=same
  else
    same=DIFFERENT
    differ=1
  fi
  printf '%-40s %-9s %10.1f %10.1f\n' "$(basename "$f")" "$same" "$(median <"$tmp/old.x")" "$(median <"$tmp/new.x")"
done
exit $differ
