#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (apart from the GCC builds) and runs
# each for a bounded time: FUZZ_SECONDS, 45 by default. The WAV reader reads
# any bytes as a file; the JSON server's session reads any bytes as a client.
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

# The session needs only nlohmann (header-only) besides its own source.
"$CXX" "${FLAGS[@]}" -o "$OUT/json_session_fuzz" \
  "$ROOT/tests/fuzz/json_session_fuzz.cpp" "$ROOT/src/links/json_session.cpp"
# Seeds: two control bytes (piece size, repeats), then client lines.
mkdir -p "$OUT/json_corpus"
seed() { printf '%b' "$2" >"$OUT/json_corpus/$1"; }
seed request '\x10\x00{"Command":"cmdRequestMessageTypes","Arguments":["mtRawChar","mtSettings"]}\r\n'
seed string_args '\x03\x00{"Command":"cmdRequestMessageTypes","Arguments":"[\\"MTCORRCHAR\\"]"}\n \n'
seed other '\xff\x00{"Command":"cmdOther","Arguments":{"a":[1,2.5,null,true]}}\n[1]\nnot json\n'
seed long '\x40\x1fxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx'
echo "fuzz: running the JSON session for ${SECONDS_TO_RUN} s"
"$OUT/json_session_fuzz" "$OUT/json_corpus" -max_total_time="$SECONDS_TO_RUN" -max_len=4096 -rss_limit_mb=1024 \
  -timeout=10 -print_final_stats=1 -artifact_prefix="$OUT/json_" 2>&1 | tail -n 15
echo "fuzz: no crash found"
