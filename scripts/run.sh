#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# The contest definitions: copied into the user's data folder unless a file is
# already there (the user may have edited it). A relative XDG_DATA_HOME is
# ignored, as the program ignores it.
DATA_HOME="${XDG_DATA_HOME:-}"
case "$DATA_HOME" in /*) ;; *) DATA_HOME="$HOME/.local/share" ;; esac
CONTESTS="$DATA_HOME/Quellan/Products/Holmcast/Contests.ini"
if [ ! -e "$CONTESTS" ]; then
  mkdir -p "$(dirname "$CONTESTS")"
  cp "$ROOT/data/Contests.ini" "$CONTESTS"
  echo "run: installed the contest definitions in $CONTESTS"
fi

bash "$ROOT/scripts/install-deps.sh"
# Only what running needs: the program (its user guide and desktop entry come
# with the configure step) and the callsign list converter; the tests and
# benchmarks wait for the test command.
build_release_targets brenvo scp_to_dta
BUILD="$ROOT/build/release"

# The callsign database: written once from Debian's contest call list when the
# user has none of their own.
DATA="$DATA_HOME/Quellan"
mkdir -p "$DATA/Reference"
SCP=/usr/share/hamradio-files/MASTER.SCP
if [ -f "$SCP" ] && [ -z "$(find "$DATA/Reference" -maxdepth 1 -iname master.dta -print -quit)" ]; then
  "$BUILD/tools/scp_to_dta" "$SCP" "$DATA/Reference/MASTER.DTA"
fi

# The window needs a desktop: without one, say so plainly rather than let the
# toolkit abort.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display (DISPLAY and WAYLAND_DISPLAY are unset), so the window cannot open; to decode a recording without a window, see \"Decoding a recording\" in $ROOT/README.md" >&2
  exit 1
fi
exec "$BUILD/src/ui/brenvo" "$@"
