#!/usr/bin/env bash
# Builds the release packages into dist/ (installing what is missing): the
# Debian package and the Windows zip.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/install_missing.sh
ensure_packages cmake make g++ dpkg-dev file g++-mingw-w64-x86-64-posix
jobs=$(nproc)
mkdir -p dist
for platform in linux windows; do
  options=(-DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release)
  if [ $platform = windows ]; then
    options+=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake)
  else
    # Debian's hardening: fortified functions, read-only relocations bound now.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    options+=("-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
              "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)")
  fi
  cmake -S . -B "build-package-$platform" "${options[@]}" > /dev/null
  cmake --build "build-package-$platform" -j"$jobs" > /dev/null
  (cd "build-package-$platform" && cpack -B "$PWD/../dist" > /dev/null)
done
rm -rf dist/_CPack_Packages
ls -l dist
