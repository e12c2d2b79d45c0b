#!/usr/bin/env bash
# The run command on a copy of the scripts, with cmake stubbed: it configures
# only a build folder that has not been configured, and builds only what
# running needs. Argument: the project's source folder.
set -euo pipefail
src="$1"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
root="$tmp/root"
mkdir -p "$root/scripts" "$root/data" "$tmp/bin" "$tmp/data/Quellan/Reference"
cp "$src/scripts/run.sh" "$src/scripts/common.sh" "$root/scripts/"
cp "$src/data/Contests.ini" "$root/data/"
: > "$root/scripts/install-deps.sh"
: > "$tmp/data/Quellan/Reference/MASTER.DTA"
printf '#!/bin/sh\necho "$*" >> "%s/calls"\n' "$tmp" > "$tmp/bin/cmake"
chmod +x "$tmp/bin/cmake"

# Without a display it stops after building, before starting the program.
run() {
  env -u DISPLAY -u WAYLAND_DISPLAY PATH="$tmp/bin:$PATH" HOME="$tmp" XDG_DATA_HOME="$tmp/data" JOBS=3 \
    bash "$root/scripts/run.sh" > /dev/null 2>&1 || true
}
run
mkdir -p "$root/build/release"
: > "$root/build/release/build.ninja"  # as the configure step leaves it
run

build="--build $root/build/release --parallel 3 --target brenvo scp_to_dta"
mapfile -t calls < "$tmp/calls"
fail() { printf 'run.sh: %s; cmake was called with:\n' "$1"; printf '  %s\n' "${calls[@]}"; exit 1; }
[ "${#calls[@]}" -eq 3 ] || fail "3 calls expected (configure and build, then build)"
[[ "${calls[0]}" == "-S $root -B $root/build/release -G Ninja -DCMAKE_BUILD_TYPE=Release "* ]] || fail "no configure first"
[[ "${calls[0]}" == *" -DBRENVO_WERROR=ON" ]] || fail "not configured as the test command configures"
[ "${calls[1]}" = "$build" ] || fail "the first run does not build only the program and the converter"
[ "${calls[2]}" = "$build" ] || fail "the second run configures again or builds more"
echo "run.sh: configures once, builds brenvo and scp_to_dta only"
