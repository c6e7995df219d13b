#!/usr/bin/env bash
# Checks the release packages in dist/ the way a user meets them: what the
# Debian package holds and depends on, lintian's verdict on it, the program
# from it printing its menu, its man pages free of groff warnings, and the
# Windows zip's executable.
set -u
cd "$(dirname "$0")/.."
failures=0
. tests/harness.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

deb=$(ls dist/autodump_*_amd64.deb)
contents=$(dpkg-deb -c "$deb")
for file in usr/bin/autodump usr/share/man/man1/autodump.1.gz usr/share/man/zh_CN/man1/autodump.1.gz \
  usr/share/doc/autodump/README.md usr/share/doc/autodump/examples/autodump.service \
  usr/share/doc/autodump/copyright usr/share/doc/autodump/changelog.gz; do
  grep -q " \./$file\$" <<< "$contents" || fail "the package lacks /$file"
done
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *"mariadb-client | virtual-mysql-client"* ]] || fail "no client tools in: $depends"
[[ $depends == *libc6* ]] || fail "no libraries worked out from the binary in: $depends"
lintian --fail-on error "$deb" > "$work/lintian" 2>&1 || fail "lintian: $(cat "$work/lintian")"

dpkg-deb -x "$deb" "$work"
title=$(printf '3\n' | LC_ALL=C.UTF-8 "$work/usr/bin/autodump" | head -1)
[ "$title" = "============mysql自动备份程序===============" ] || fail "the packaged program printed: $title"
for page in man1 zh_CN/man1; do
  warnings=$(zcat "$work/usr/share/man/$page/autodump.1.gz" | groff -k -man -ww -Tutf8 2>&1 > /dev/null)
  [ -z "$warnings" ] || fail "$page/autodump.1: $warnings"
done

zip=$(ls dist/autodump-*-win64.zip)
unzip -q "$zip" -d "$work/zip"
[ -s "$work/zip/"*/README-windows.txt ] || fail "the zip has no README for Windows"
[ "$(head -c 2 "$work/zip/"*/autodump.exe)" = MZ ] || fail "the zip has no Windows executable"
imports=$(x86_64-w64-mingw32-objdump -p "$work/zip/"*/autodump.exe)
grep -q 'DLL Name: libstdc++' <<< "$imports" && fail "the Windows executable needs the MinGW runtime beside it"
# Those read names, command lines and typed text in the ANSI code page, not the console's.
ansi=$(grep -owE 'CreateFileA|MoveFileExA|CreateProcessA|SearchPathA|ReadConsoleA|GetFileAttributesA' <<< "$imports")
[ -z "$ansi" ] || fail "the Windows executable imports $ansi"

echo "packages: $failures failed"
[ "$failures" -eq 0 ]
