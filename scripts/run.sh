#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$ROOT/scripts/install-deps.sh"
configure_and_build "$ROOT/build/release" Release

# The desktop program does not exist yet: until it does, this runs the
# benchmarks of what has been built so far.
echo "The window program is not built yet; running the benchmarks instead."
"$ROOT/build/release/bench/brenvo_bench" "$@"
