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
  [ $platform = windows ] && options+=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake)
  cmake -S . -B "build-package-$platform" "${options[@]}" > /dev/null
  cmake --build "build-package-$platform" -j"$jobs" > /dev/null
  (cd "build-package-$platform" && cpack -B "$PWD/../dist" > /dev/null)
done
rm -rf dist/_CPack_Packages
ls -l dist
