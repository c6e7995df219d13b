#!/usr/bin/env bash
# Builds autodump and runs every test (installing what is missing): the Linux
# program's, with the release packages and the Debian package's service under a
# real systemd in a container; then the tests that need no server or package
# once more under AddressSanitizer and UndefinedBehaviorSanitizer; then the
# Windows program's, cross-built with MinGW-w64 and run under wine; last the
# demo.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/install_missing.sh
ensure_packages cmake make g++ libgtest-dev locales procps strace faketime python3 \
  g++-mingw-w64-x86-64-posix googletest wine wine64 dpkg-dev debhelper groff-base go-md2man unzip lintian \
  systemd systemd-container mmdebstrap
ensure_server_packages
ensure_gbk_locale

jobs=$(nproc)
cmake -S . -B build -DBUILD_TESTING=ON -DAUTODUMP_WARNINGS_AS_ERRORS=ON
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build-sanitize -DBUILD_TESTING=ON -DAUTODUMP_WARNINGS_AS_ERRORS=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="$sanitizers"
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs" -LE 'server|package|service')

cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DBUILD_TESTING=ON \
  -DAUTODUMP_WARNINGS_AS_ERRORS=ON
cmake --build build-windows -j"$jobs"
# A wine prefix of the tests' own, prepared on the normal clock before any
# fast-clock run, with its server kept up while the suite runs. The tests share
# that server, so they run one at a time.
export WINEPREFIX WINEDEBUG=-all
WINEPREFIX=$(mktemp -d /tmp/autodump_wine.XXXXXX)
trap 'wineserver -k 2> /dev/null; rm -rf "$WINEPREFIX"' EXIT
wine wineboot --init > /dev/null 2>&1
wineserver -w
wineserver -p
# A first program starts wine's services; its input ends at once (status 1).
wine build-windows/autodump.exe < /dev/null > /dev/null 2>&1 || true
(cd build-windows && ctest --output-on-failure)

servers_before=$(pgrep -x mariadbd || true)
./scripts/demo.sh > /dev/null
[ "$(pgrep -x mariadbd || true)" = "$servers_before" ] || { echo "FAIL: the demo left a server"; exit 1; }
echo "demo: a backup that restores, nothing left running"
