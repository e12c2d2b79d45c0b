#!/usr/bin/env bash
# BRENVO beside minimodem on the same recordings, made with minimodem --tx
# (45.45 Bd, 170 Hz shift, 1.5 stop bits, 6000 Hz, mark below space):
#   12 signals, 20 Hz between one signal's upper tone and the next one's
#   lower tone (190 Hz from mark to mark), 60 s
#   10 signals, marks 235 Hz apart, 60 s
#   1 signal at the default tones (2125/2295 Hz), 30 s
# BRENVO's decode_wav finds the signals itself; minimodem runs once per
# signal, told its exact tones. Both are timed as whole processes (start-up
# included), minimodem's processes summed, taking turns REPEAT times (5 by
# default). One line per recording: the CPU ratio (minimodem CPU / BRENVO
# CPU, median of the pairs, lowest and highest in brackets) and BRENVO's
# multiple of real time (audio seconds / wall seconds, median), with one
# decoding thread (--jobs 1) and with all cores (--jobs $(nproc)); then how
# many of the signals' calls each program decoded.
#   [REPEAT=n] [DECODE_WAV=path] bench/vs_minimodem.sh
# DECODE_WAV names a decode_wav to measure instead of building this tree's.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

repeat=${REPEAT:-5}
cores=$(nproc)
if [ -z "${DECODE_WAV:-}" ]; then
  build_release_targets decode_wav scp_to_dta >/dev/null
  DECODE_WAV=$ROOT/build/release/tools/decode_wav
fi
command -v minimodem >/dev/null || { echo "minimodem is missing: bash scripts/install-deps.sh" >&2; exit 2; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A fresh home with the callsign database, as the program has it after the
# run command: its loading is part of every start.
export HOME=$tmp/home
scp=/usr/share/hamradio-files/MASTER.SCP
if [ -f "$scp" ] && [ -x "$ROOT/build/release/tools/scp_to_dta" ]; then
  mkdir -p "$HOME/.local/share/Quellan/Reference"
  "$ROOT/build/release/tools/scp_to_dta" "$scp" "$HOME/.local/share/Quellan/Reference/MASTER.DTA" >/dev/null
fi

calls=(DL1ABC K1XYZ G4XYZ JA1ZZ VK2ABC UA3ABC F5ABC OH2XYZ W9ABC PY2ZZ EA4XYZ I2ABC)
# make_recording NAME SECONDS FIRST_MARK_HZ STEP_HZ COUNT: writes NAME.wav and
# NAME.tones (one "mark space call" line per signal).
make_recording() {
  local name=$1 seconds=$2 first=$3 step=$4 count=$5 i mark call text parts=()
  : >"$tmp/$name.tones"
  for ((i = 0; i < count; i++)); do
    mark=$((first + i * step))
    call=${calls[i]}
    # About 6 characters a second fill the time.
    text=""
    while [ ${#text} -lt $((seconds * 6)) ]; do
      text+="CQ CQ DE $call $call PSE K RYRYRY THE QUICK BROWN FOX 73 "
    done
    echo "$text" | minimodem --tx -R 6000 -M "$mark" -S $((mark + 170)) -f "$tmp/$name.$i.wav" rtty
    parts+=("$tmp/$name.$i.wav")
    echo "$mark $((mark + 170)) $call" >>"$tmp/$name.tones"
  done
  if [ "$count" -eq 1 ]; then
    mv "${parts[0]}" "$tmp/$name.wav"
  else
    sox -m "${parts[@]}" "$tmp/$name.wav"
    rm -f "${parts[@]}"
  fi
}
make_recording 12x190Hz_60s 60 450 190 12
make_recording 10x235Hz_60s 60 450 235 10
make_recording 1sig_30s 30 2125 0 1

TIMEFORMAT='%R %U %S'
# timed OUT COMMAND...: runs COMMAND, its output to OUT; prints "wall cpu".
timed() {
  local out=$1 t
  shift
  t=$({ time "$@" >"$out" 2>/dev/null; } 2>&1)
  awk '{printf "%s %.4f\n", $1, $2 + $3}' <<<"$t"
}
minimodem_all() {
  local wav=$1 tones=$2 mark space call
  while read -r mark space call; do
    minimodem --rx -q -R 6000 -M "$mark" -S "$space" -f "$wav" rtty
  done <"$tones"
}
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
range() { sort -g | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%.2f-%.2f", lo, hi}'; }

names=(12x190Hz_60s 10x235Hz_60s 1sig_30s)
for ((r = 0; r < repeat; r++)); do
  for n in "${names[@]}"; do
    read -r _ mm < <(timed "$tmp/$n.mm.txt" minimodem_all "$tmp/$n.wav" "$tmp/$n.tones")
    for jobs in 1 "$cores"; do
      read -r wall cpu < <(timed "$tmp/$n.$jobs.json" "$DECODE_WAV" --jobs "$jobs" "$tmp/$n.wav")
      audio=$(sed -n 's/^ *"audio_seconds": *\([0-9.]*\).*/\1/p' "$tmp/$n.$jobs.json")
      awk -v m="$mm" -v c="$cpu" 'BEGIN {print m / c}' >>"$tmp/$n.$jobs.ratio"
      awk -v a="$audio" -v w="$wall" 'BEGIN {print a / w}' >>"$tmp/$n.$jobs.rt"
    done
  done
done

printf '%-14s %-24s %-24s %s\n' recording "1 thread: ratio  x real" "$cores threads: ratio  x real" "calls decoded: BRENVO minimodem"
for n in "${names[@]}"; do
  line=$(printf '%-14s' "$n")
  for jobs in 1 "$cores"; do
    line+=$(printf ' %5.2f (%s) %6.0f  ' "$(median <"$tmp/$n.$jobs.ratio")" "$(range <"$tmp/$n.$jobs.ratio")" \
      "$(median <"$tmp/$n.$jobs.rt")")
  done
  total=$(wc -l <"$tmp/$n.tones")
  ours=0 theirs=0
  while read -r _ _ call; do
    grep -q "\"corrected\": \".*$call" "$tmp/$n.1.json" && ours=$((ours + 1))
    grep -q "$call" "$tmp/$n.mm.txt" && theirs=$((theirs + 1))
  done <"$tmp/$n.tones"
  echo "$line $ours/$total $theirs/$total"
done
