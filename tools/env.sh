# Sourced by tools/run, tools/test and tools/bench: one place for the build folder, the
# configure step and the Wine environment.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
# Libraries that tools/setup cross-builds from source live here, outside every clone.
if [[ -z ${VA_CACHE:-} ]]; then
  if [[ $(id -u) -eq 0 ]]; then VA_CACHE=/var/cache/voltatlas; else VA_CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/voltatlas; fi
fi
export VA_CACHE
case $BUILD_DIR in /*) ;; *) BUILD_DIR=$ROOT/$BUILD_DIR ;; esac

# Western code page for every Windows process; no Mono or Gecko installer prompts.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
export WINEARCH=win64

va_build() {
  mkdir -p "$BUILD_DIR"
  cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DVA_OPENSSL_DIR="$VA_CACHE/openssl" -DVA_LIBJPEG_DIR="$VA_CACHE/libjpeg-turbo" >"$BUILD_DIR/configure.log" 2>&1 ||
    { cat "$BUILD_DIR/configure.log"; return 1; }
  cmake --build "$BUILD_DIR" -- -k 0 "$@"
}

# A new, empty Wine prefix at $1 (the registry the tests touch starts empty).
va_fresh_prefix() {
  export WINEPREFIX=$1
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
}
