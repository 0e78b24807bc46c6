# Shared by the scripts: where the tree and the build folders are, and how
# each flavour is configured. VELLUM_BUILD_ROOT lets several developers (or
# helpers) build side by side without sharing a ninja state.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_root=${VELLUM_BUILD_ROOT:-$root/build}
jobs=$(nproc)

# A compiler cache, when present, makes a rebuild after a branch switch or a
# fresh configure cheap. Paths stay absolute (no base directory), so the debug
# information that reports are resolved from names the real files.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

configure_windows() {
  cmake -S "$root" -B "$build_root/win32" -G Ninja "${launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}

# The 64-bit build's mixed tests (its taskbar and band with the 32-bit
# stand-in, both DLLs registered side by side) run the 32-bit build's products.
configure_windows64() {
  cmake -S "$root" -B "$build_root/win64" -G Ninja "${launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-mingw32.cmake" \
    -DVELLUM_WIN32_BIN_DIR="$build_root/win32/bin" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}

configure_native() {
  cmake -S "$root" -B "$build_root/native" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DVELLUM_SANITIZE=ON >/dev/null
}

configure_fuzz() {
  cmake -S "$root" -B "$build_root/fuzz" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DVELLUM_FUZZ=ON >/dev/null
}

configure_bench() {
  cmake -S "$root" -B "$build_root/bench" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DVELLUM_SANITIZE=OFF >/dev/null
}

wine_session() {
  "$root/tools/wine/session" "$build_root/win32/wineprefix" "$@"
}

# A 64-bit prefix, as 64-bit Windows has: it runs 64-bit and 32-bit programs.
wine64_session() {
  VELLUM_WINEARCH=win64 "$root/tools/wine/session" "$build_root/win64/wineprefix" "$@"
}
