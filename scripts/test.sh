#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test twice: once in an
# optimised build, once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$ROOT/scripts/install-deps.sh"

echo "== release build =="
configure_and_build "$ROOT/build/release" Release -DBRENVO_WERROR=ON
(cd "$ROOT/build/release" && ctest --output-on-failure --parallel "$JOBS")

echo "== sanitizer build =="
configure_and_build "$ROOT/build/sanitize" Debug -DBRENVO_WERROR=ON -DBRENVO_SANITIZE=ON -DBRENVO_BENCH=OFF
(cd "$ROOT/build/sanitize" && LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0" \
  ctest --output-on-failure --parallel "$JOBS")

echo "== fuzzing the file readers, the JSON session and the engine link (bounded) =="
FUZZ_SECONDS="${FUZZ_SECONDS:-12}" bash "$ROOT/tests/fuzz/build_and_run.sh"

echo "== all tests passed in both builds =="
