#!/usr/bin/env bash
# Builds the release packages into dist/ (installing what is missing): the
# Debian package, with dpkg-buildpackage and debhelper from debian/, and the
# Windows zip, with CPack.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/install_missing.sh
ensure_packages cmake make g++ dpkg-dev debhelper go-md2man file g++-mingw-w64-x86-64-posix
rm -rf dist build-package-linux
mkdir -p dist build-package-linux/autodump

# dpkg-buildpackage works in the source tree and writes beside it: a copy of
# the tree's files, in a folder of its own.
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t build-package-linux/autodump
(cd build-package-linux/autodump && dpkg-buildpackage -b -us -uc > ../build.log 2>&1) ||
  { tail -30 build-package-linux/build.log; exit 1; }
cp build-package-linux/autodump_*.deb dist/

cmake -S . -B build-package-windows -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake > /dev/null
cmake --build build-package-windows -j"$(nproc)" > /dev/null
(cd build-package-windows && cpack -B "$PWD/../dist" > /dev/null)
rm -rf dist/_CPack_Packages
ls -l dist
