#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (apart from the GCC builds) and runs
# each for a bounded time: FUZZ_SECONDS, 45 by default. The WAV reader reads
# any bytes as a file; the JSON server's session reads any bytes as a client;
# the settings save, MASTER.DTA, Hist2D.bin and Contests.ini read any bytes as
# their files; the external engine's link reads any bytes as its output.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
OUT="$ROOT/build/fuzz"
SRC="$ROOT/src"
SECONDS_TO_RUN="${FUZZ_SECONDS:-45}"
mkdir -p "$OUT/corpus"
# The file targets save on every run: a memory file system keeps that cheap.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

CXX=clang++
command -v "$CXX" >/dev/null || { echo "fuzz: clang++ not found" >&2; exit 1; }
FLAGS=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I"$SRC")

# build NAME SOURCES...: tests/fuzz/NAME.cpp with the sources it needs, all at once.
pids=()
build() {
  local name="$1"
  shift
  "$CXX" "${FLAGS[@]}" -o "$OUT/$name" "$ROOT/tests/fuzz/$name.cpp" "$@" &
  pids+=($!)
}
build wav_reader_fuzz "$SRC/audio/qyx_wav_file.cpp" "$SRC/audio/riff_file.cpp" "$SRC/audio/snd_conv.cpp"
# The session needs only nlohmann (header-only) besides its own source.
build json_session_fuzz "$SRC/links/json_session.cpp"
build ini_save_fuzz "$SRC"/files/{ini_file,ini_text,data_file,file_replace}.cpp
build master_dta_fuzz "$SRC"/callsigns/{callsign_validator,callsign3_char_validator,callsign_pattern_splitter}.cpp \
  "$SRC/callsigns/vuq_string_list.cpp" "$SRC"/files/{data_file,data_folders,file_replace}.cpp
build hist2d_file_fuzz "$SRC"/ui/{hist2d_table,format_fixed}.cpp "$SRC/files/file_replace.cpp"
DECODER=("$SRC"/decoder/{message_hmm,message_statistics,state_type}.cpp
  "$SRC"/files/{ini_file,ini_text,data_file,file_replace,data_folders}.cpp)
build contests_fuzz "${DECODER[@]}"
# Qt Core for the engine's process, which the target never starts.
build engine_output_fuzz -fPIC $(pkg-config --cflags Qt6Core) "$SRC/links/xmmt_interface.cpp" \
  "$SRC/receiver/char_batch.cpp" "${DECODER[@]}" "$SRC"/decoder/{message_corrector,message_storage,char_prob,utc_clock}.cpp \
  $(pkg-config --libs Qt6Core)
# Seeds for the WAV reader: small valid files of each kind, made by the fuzz-free seed writer.
"$CXX" -std=c++20 -O1 -I"$SRC" -o "$OUT/make_seeds" "$ROOT/tests/fuzz/make_seeds.cpp" \
  "$SRC/audio/qyx_wav_file.cpp" "$SRC/audio/riff_file.cpp" "$SRC/audio/snd_conv.cpp"
for pid in "${pids[@]}"; do wait "$pid"; done
"$OUT/make_seeds" "$OUT/corpus"

# Seeds for the JSON session: two control bytes (piece size, repeats), then client lines.
mkdir -p "$OUT/json_corpus"
seed() { printf '%b' "$2" >"$OUT/json_corpus/$1"; }
seed request '\x10\x00{"Command":"cmdRequestMessageTypes","Arguments":["mtRawChar","mtSettings"]}\r\n'
seed string_args '\x03\x00{"Command":"cmdRequestMessageTypes","Arguments":"[\\"MTCORRCHAR\\"]"}\n \n'
seed other '\xff\x00{"Command":"cmdOther","Arguments":{"a":[1,2.5,null,true]}}\n[1]\nnot json\n'
seed long '\x40\x1fxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx'
# The file targets' seeds are kept in tests/fuzz/seeds/NAME; the shipped contest file joins them.
for name in ini_save master_dta hist2d_file contests engine_output; do
  mkdir -p "$OUT/${name}_corpus"
  cp "$ROOT/tests/fuzz/seeds/$name"/* "$OUT/${name}_corpus/"
done
cp "$ROOT/data/Contests.ini" "$OUT/contests_corpus/"

# run NAME CORPUS: the target for SECONDS_TO_RUN seconds; a finding stops the script.
run() {
  echo "fuzz: running $1 for ${SECONDS_TO_RUN} s"
  "$OUT/$1" "$2" -max_total_time="$SECONDS_TO_RUN" -max_len=4096 -rss_limit_mb=1024 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$OUT/$1_" 2>&1 | tail -n 15
}
run wav_reader_fuzz "$OUT/corpus"
run json_session_fuzz "$OUT/json_corpus"
for name in ini_save master_dta hist2d_file contests engine_output; do run "${name}_fuzz" "$OUT/${name}_corpus"; done
echo "fuzz: no crash found"
