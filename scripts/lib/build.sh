# Configure and build one width of the project. Sourced by the scripts.
# build_arch ARCH DIR [TARGET...]: ARCH is i686 (shipped) or x86_64 (runs under wine64).
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# One build of a folder at a time (scripts/test runs the real stack beside the 32-bit smoke set,
# and each builds what it needs in the same i686 folder): the second waits for the first.
build_arch() {
  local arch=$1 dir=$2 lock
  shift 2
  mkdir -p "$dir"
  exec {lock}>"$dir/.build-lock"
  flock "$lock"
  cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$arch.cmake" >/dev/null
  if [ $# -gt 0 ]; then
    cmake --build "$dir" --target "$@"
  else
    cmake --build "$dir"
  fi
  exec {lock}>&-
}
