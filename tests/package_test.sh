#!/usr/bin/env bash
# Checks the release packages in dist/ the way a user meets them: what the
# Debian package holds and depends on, lintian's verdict on it (hardening
# included), the program from it printing its menu, its man pages free of
# groff warnings, its service unit verified and scored; as root, the package
# installed, removed and purged; and the Windows zip's executable and task.
set -u
cd "$(dirname "$0")/.."
failures=0
. tests/harness.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

deb=$(ls dist/autodump_*_amd64.deb)
contents=$(dpkg-deb -c "$deb")
for file in usr/bin/autodump usr/share/man/man1/autodump.1.gz usr/share/man/zh_CN/man1/autodump.1.gz \
  usr/share/doc/autodump/README.md lib/systemd/system/autodump.service \
  usr/share/doc/autodump/copyright usr/share/doc/autodump/changelog.gz; do
  # debhelper compresses only documents of more than 4 kB.
  grep -qE " \./$file(\.gz)?\$" <<< "$contents" || fail "the package lacks /$file"
done
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *"mariadb-client | virtual-mysql-client"* ]] || fail "no client tools in: $depends"
[[ $depends == *libc6* ]] || fail "no libraries worked out from the binary in: $depends"
lintian --fail-on error -I "$deb" > "$work/lintian" 2>&1 || fail "lintian: $(cat "$work/lintian")"
grep -E 'hardening' "$work/lintian" && fail "lintian names hardening tags"

dpkg-deb -x "$deb" "$work"
title=$(printf '3\n' | LC_ALL=C.UTF-8 "$work/usr/bin/autodump" | head -1)
[ "$title" = "============mysql自动备份程序===============" ] || fail "the packaged program printed: $title"
for page in man1 zh_CN/man1; do
  warnings=$(zcat "$work/usr/share/man/$page/autodump.1.gz" | groff -k -man -ww -Tutf8 2>&1 > /dev/null)
  [ -z "$warnings" ] || fail "$page/autodump.1: $warnings"
done

# The unit as systemd reads it, and how much of the system it exposes.
unit=$work/lib/systemd/system/autodump.service
verified=$(systemd-analyze verify --man=no "$unit" 2>&1 | grep -v 'is not executable')
[ -z "$verified" ] || fail "systemd-analyze verify: $verified"
exposure=$(systemd-analyze security --offline=yes "$unit" 2>&1 | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\).*/\1/p')
awk -v e="${exposure:-99}" 'BEGIN {exit !(e <= 2.0)}' || fail "the unit's exposure is ${exposure:-unknown}, not at most 2.0"

# Installed as a user installs it: the account, its folders and their modes;
# removed, the dumps and the account stay; purged, the configuration goes.
if [ "$(id -u)" -eq 0 ]; then
  purge_after=
  dpkg-query -W -f='${Status}' autodump 2> /dev/null | grep -q 'install ok installed' || purge_after=1
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" > "$work/install.log" 2>&1 ||
    fail "the package does not install: $(tail -5 "$work/install.log")"
  getent passwd autodump | grep -q ':/var/lib/autodump:' || fail "no account autodump: $(getent passwd autodump)"
  for folder in /var/lib/autodump:autodump:700 /var/backups/autodump:autodump:700 /etc/autodump:root:700; do
    IFS=: read -r path owner mode <<< "$folder"
    [ "$(stat -c %U:%a "$path" 2> /dev/null)" = "$owner:$mode" ] ||
      fail "$path is $(stat -c %U:%a "$path" 2>&1), not $owner:$mode"
  done
  link=/etc/systemd/system/multi-user.target.wants/autodump.service
  [ ! -e "$link" ] || fail "installing the package enabled the service"
  if [ -n "$purge_after" ]; then
    systemctl enable autodump > /dev/null 2>&1
    [ -L "$link" ] || fail "the service cannot be enabled"
    touch /var/backups/autodump/kept.sql
    dpkg -r autodump > /dev/null 2>&1
    [ -e /var/backups/autodump/kept.sql ] && getent passwd autodump > /dev/null ||
      fail "removing the package took the dumps or the account"
    dpkg -P autodump > /dev/null 2>&1
    [ ! -e /etc/autodump ] || fail "purging left /etc/autodump"
    [ ! -L "$link" ] || fail "purging left the service enabled"
    rm -f /var/backups/autodump/kept.sql
  fi
else
  echo "SKIPPED: installing the package (needs root)"
fi

zip=$(ls dist/autodump-*-win64.zip)
unzip -q "$zip" -d "$work/zip"
[ -s "$work/zip/"*/README-windows.txt ] || fail "the zip has no README for Windows"
# The task definition, in the UTF-16 that schtasks /xml reads, never stopped.
task=$(ls "$work/zip/"*/autodump-task.xml)
[ "$(head -c 2 "$task" | od -An -tx1 | tr -d ' ')" = fffe ] || fail "the task definition is not UTF-16"
settings=$(iconv -f UTF-16 -t UTF-8 "$task" | sed 's/encoding="UTF-16"//' | python3 -c '
import sys, xml.dom.minidom
task = xml.dom.minidom.parseString(sys.stdin.read())
for name in ("ExecutionTimeLimit", "StopIfGoingOnBatteries", "DisallowStartIfOnBatteries", "UserId",
             "MultipleInstancesPolicy", "Interval", "Count"):
    print(name, task.getElementsByTagName(name)[0].firstChild.data)')
# Started again within minutes once its program has ended, and never twice.
[ "$settings" = "$(printf '%s\n' 'ExecutionTimeLimit PT0S' 'StopIfGoingOnBatteries false' \
  'DisallowStartIfOnBatteries false' 'UserId S-1-5-18' 'MultipleInstancesPolicy IgnoreNew' \
  'Interval PT5M' 'Count 3')" ] || fail "the task definition: $settings"
[ "$(head -c 2 "$work/zip/"*/autodump.exe)" = MZ ] || fail "the zip has no Windows executable"
imports=$(x86_64-w64-mingw32-objdump -p "$work/zip/"*/autodump.exe)
grep -q 'DLL Name: libstdc++' <<< "$imports" && fail "the Windows executable needs the MinGW runtime beside it"
# Its manifest lets it take paths past MAX_PATH where the system allows.
grep -aq '<ws2:longPathAware>true</ws2:longPathAware>' "$work/zip/"*/autodump.exe ||
  fail "the Windows executable has no longPathAware manifest"
# Those read names, command lines and typed text in the ANSI code page, not the console's.
ansi=$(grep -owE 'CreateFileA|MoveFileExA|CreateProcessA|SearchPathA|ReadConsoleA|GetFileAttributesA' <<< "$imports")
[ -z "$ansi" ] || fail "the Windows executable imports $ansi"

echo "packages: $failures failed"
[ "$failures" -eq 0 ]
