# Configure and build one width of the project. Sourced by the scripts.
# build_arch ARCH DIR [TARGET...]: ARCH is i686 (shipped) or x86_64 (runs under wine64).
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

build_arch() {
  local arch=$1 dir=$2
  shift 2
  cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$arch.cmake" >/dev/null
  if [ $# -gt 0 ]; then
    cmake --build "$dir" --target "$@"
  else
    cmake --build "$dir"
  fi
}
