#!/usr/bin/env bash
# Builds the WAV reader's libFuzzer target with clang (apart from the GCC
# builds) and runs it for a bounded time: FUZZ_SECONDS, 45 by default.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
OUT="$ROOT/build/fuzz"
SECONDS_TO_RUN="${FUZZ_SECONDS:-45}"
mkdir -p "$OUT/corpus"

CXX=clang++
command -v "$CXX" >/dev/null || { echo "fuzz: clang++ not found" >&2; exit 1; }
FLAGS=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I"$ROOT/src")
"$CXX" "${FLAGS[@]}" -o "$OUT/wav_reader_fuzz" \
  "$ROOT/tests/fuzz/wav_reader_fuzz.cpp" \
  "$ROOT/src/audio/qyx_wav_file.cpp" "$ROOT/src/audio/riff_file.cpp" "$ROOT/src/audio/snd_conv.cpp"

# Seeds: small valid files of each kind, made by the fuzz-free seed writer.
"$CXX" -std=c++20 -O1 -I"$ROOT/src" -o "$OUT/make_seeds" "$ROOT/tests/fuzz/make_seeds.cpp" \
  "$ROOT/src/audio/qyx_wav_file.cpp" "$ROOT/src/audio/riff_file.cpp" "$ROOT/src/audio/snd_conv.cpp"
"$OUT/make_seeds" "$OUT/corpus"

echo "fuzz: running the WAV reader for ${SECONDS_TO_RUN} s"
"$OUT/wav_reader_fuzz" "$OUT/corpus" -max_total_time="$SECONDS_TO_RUN" -max_len=4096 -rss_limit_mb=1024 \
  -timeout=10 -print_final_stats=1 -artifact_prefix="$OUT/" 2>&1 | tail -n 15
echo "fuzz: no crash found"
