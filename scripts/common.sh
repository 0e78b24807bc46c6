# Shared by the scripts: where the tree and the build folders are, and how
# each flavour is configured. VELLUM_BUILD_ROOT lets several developers (or
# helpers) build side by side without sharing a ninja state.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_root=${VELLUM_BUILD_ROOT:-$root/build}
jobs=$(nproc)

configure_windows() {
  cmake -S "$root" -B "$build_root/win32" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}

configure_windows64() {
  cmake -S "$root" -B "$build_root/win64" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}

configure_native() {
  cmake -S "$root" -B "$build_root/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DVELLUM_SANITIZE=ON >/dev/null
}

configure_fuzz() {
  cmake -S "$root" -B "$build_root/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DVELLUM_FUZZ=ON >/dev/null
}

configure_bench() {
  cmake -S "$root" -B "$build_root/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DVELLUM_SANITIZE=OFF >/dev/null
}

wine_session() {
  "$root/tools/wine/session" "$build_root/win32/wineprefix" "$@"
}

# A 64-bit prefix, as 64-bit Windows has: it runs 64-bit and 32-bit programs.
wine64_session() {
  VELLUM_WINEARCH=win64 "$root/tools/wine/session" "$build_root/win64/wineprefix" "$@"
}
