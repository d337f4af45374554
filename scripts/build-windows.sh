#!/usr/bin/env bash
# Builds the Windows driver, TK571_485.dll, with mingw-w64 for i686 and leaves
# the DLL, the public header and the import library (libTK571_485.dll.a) in
# dist/windows/. Installs the cross compiler when it is missing.
#   scripts/build-windows.sh [build directory, default build-win]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-win}

packages=(g++-mingw-w64-i686 binutils-mingw-w64-i686 cmake googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DTK571_QT=OFF -DTK571_TESTS="${TK571_WINDOWS_TESTS:-OFF}" \
  "${launcher[@]}"
cmake --build "$build_dir" --target tk571_485 -j"${JOBS:-$(nproc)}"

dist=dist/windows
rm -rf "$dist"
mkdir -p "$dist/include/tk571"
i686-w64-mingw32-strip --strip-unneeded -o "$dist/TK571_485.dll" "$build_dir/src/driver/TK571_485.dll"
cp "$build_dir/src/driver/libTK571_485.dll.a" "$dist/"
cp include/tk571/driver.h "$dist/include/tk571/"
cmake -DDLL="$dist/TK571_485.dll" -DOBJDUMP=i686-w64-mingw32-objdump \
  -DDEF=src/driver/tk571_485.def -P cmake/CheckWindowsDll.cmake
ls -l "$dist"
