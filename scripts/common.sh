# Shared by the scripts: where the project is and how many cores to build with.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

# configure DIR BUILD_TYPE [extra cmake args...]
configure() {
  local dir="$1" type="$2"
  shift 2
  local launcher=()
  # A developer's ccache, when there is one, shares objects between work trees.
  if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
  cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "${launcher[@]}" "$@"
}

# configure_and_build DIR BUILD_TYPE [extra cmake args...]
configure_and_build() {
  configure "$@"
  cmake --build "$1" --parallel "$JOBS"
}

# build_release_targets TARGET...: only these targets, in the test command's
# build folder, which is configured as the test command configures it when it
# has not been (a build re-runs CMake by itself when a CMake file changed).
build_release_targets() {
  local dir="$ROOT/build/release"
  [ -f "$dir/build.ninja" ] || configure "$dir" Release -DBRENVO_WERROR=ON
  cmake --build "$dir" --parallel "$JOBS" --target "$@"
}
