#!/usr/bin/env bash
# Runs the real autodump, unchanged, against stand-in dump tools that do what a
# hostile or careless neighbour could: children that leave the tool's process
# group, another account's file at the dump's name, a log reader that dies.
# A day passes in four seconds.
#
#   standin_test.sh SCENARIO AUTODUMP
#
# Exits 77 (skipped) where the scenario needs root and does not have it.
set -u
scenario=$1
autodump=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
. "$here/harness.sh"
use_fast_clock 21600
work=$(mktemp -d /tmp/autodump_standin.XXXXXX)
chmod 755 "$work"
failures=0
started=()
trap '[ ${#started[@]} -eq 0 ] || kill -KILL "${started[@]}" 2> /dev/null; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT

needs_root() {
  [ "$(id -u)" -eq 0 ] && return 0
  echo "SKIPPED: $scenario needs root, to act as two accounts"
  exit 77
}

# stand_in BODY: a mysqldump in "$work/tool" that runs BODY (sh), for the
# check and for each dump alike.
stand_in() {
  mkdir -p "$work/tool"
  printf '#!/bin/sh\n%s\n' "$1" > "$work/tool/mysqldump"
  chmod 755 "$work/tool/mysqldump"
}

# start LOG DIR NAME [COMMAND PREFIX...]: autodump in the background with the
# stand-in first on PATH, answers to back up daily into DIR/NAME.sql, on the
# fast clock, its standard error into LOG.err; its id is $app_pid.
start() {
  local log=$1 dir=$2 name=$3
  shift 3
  printf '%s\n' 1 127.0.0.1 dumper secret shop "$dir/" "$name" 2 > "$work/answers.$name"
  PATH="$work/tool:$PATH" "$@" "${fast_clock[@]}" "$autodump" < "$work/answers.$name" > "$log" 2> "$log.err" &
  app_pid=$!
  started+=("$app_pid")
}

stop() {
  kill -TERM "$app_pid" 2> /dev/null
  wait "$app_pid" 2> /dev/null
}

# Whether process $1 still runs (a zombie counts as gone).
runs() { [ -e "/proc/$1" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2> /dev/null; }

# The tool's children leave its process group and write after it has ended:
# the completion line comes only once they have. One that never ends fails
# the backup at its deadline, and none outlives the program.
tool_descendants() {
  # The children run on the real clock, so that they are really late.
  stand_in "echo \"-- a dump\"
env -u LD_PRELOAD setsid sh -c 'echo \$\$ >> \"$work/escaped\"; sleep 1; echo \"-- written late\"' &"
  mkdir "$work/bak"
  start "$work/late.log" "$work/bak" shop
  if wait_for 60 has_line "$work/late.log" '^备份(完毕|失败)'; then
    has_line "$work/late.log" '^备份完毕' || fail "late child: $(grep '^备份' "$work/late.log")"
    grep -q '^-- written late' "$work/bak/shop.sql" ||
      fail "late child: the dump was put in place before the escaped child had written"
  else
    fail "late child: no backup reported: $(tail -3 "$work/late.log")"
  fi
  stop
  stand_in "echo \"-- a dump\"
env -u LD_PRELOAD setsid sleep 300 &
echo \$! >> \"$work/escaped\""
  start "$work/endless.log" "$work/bak" endless
  wait_for 60 has_line "$work/endless.log" '^备份(完毕|失败)' || fail "endless child: no backup reported"
  has_line "$work/endless.log" '^备份失败，原备份文件保持不变，到下次备份时间仍未完成$' ||
    fail "endless child: $(grep '^备份' "$work/endless.log")"
  [ ! -e "$work/bak/endless.sql" ] || fail "endless child: a dump was put in place"
  wait_for 60 has_line "$work/endless.log" '^开始执行备份' 2
  stop
  local pid
  for pid in $(cat "$work/escaped"); do
    runs "$pid" && fail "escaped child $pid outlived the program: $(ps -o args= -p "$pid")"
  done
}

# Another account's file at the dump's name hands the new dump neither to
# that account nor to everyone; root's own keeps its group and mode.
foreign_dump_file() {
  needs_root
  stand_in 'echo "-- a dump"'
  mkdir "$work/theirs" "$work/sticky" "$work/ours"
  chown nobody "$work/theirs"
  chmod 1777 "$work/sticky"
  local folder
  for folder in theirs sticky; do
    setpriv --reuid=nobody --regid=nogroup --clear-groups \
      sh -c "echo 'SELECT 1;' > '$work/$folder/shop.sql'; chmod 644 '$work/$folder/shop.sql'"
    start "$work/$folder.log" "$work/$folder" shop
    wait_for 60 has_line "$work/$folder.log" '^备份(完毕|失败)' || fail "$folder: no backup reported"
    stop
    has_line "$work/$folder.log" "^警告：原备份文件属于其他账号，新备份文件只允许本账号读写：$work/$folder/shop.sql\$" ||
      fail "$folder: no warning: $(grep -E '^(警告|备份)' "$work/$folder.log")"
    [ "$(stat -c %U:%G:%a "$work/$folder/shop.sql")" = root:root:600 ] ||
      fail "$folder: the new dump is $(stat -c %U:%G:%a "$work/$folder/shop.sql")"
  done
  echo 'SELECT 1;' > "$work/ours/shop.sql"
  chgrp nogroup "$work/ours/shop.sql"
  chmod 640 "$work/ours/shop.sql"
  start "$work/ours.log" "$work/ours" shop
  wait_for 60 has_line "$work/ours.log" '^备份(完毕|失败)' || fail "root's own: no backup reported"
  stop
  # On the fast clock the connection check has no time to succeed.
  grep '^警告' "$work/ours.log" | grep -v '^警告：用当前设置连接数据库失败' &&
    fail "root's own: a warning"
  [ "$(stat -c %U:%G:%a "$work/ours/shop.sql")" = root:nogroup:640 ] ||
    fail "root's own: the new dump is $(stat -c %U:%G:%a "$work/ours/shop.sql")"
  # An ordinary account, in a folder every account may write, where a third
  # one left the file open to everyone.
  mkdir "$work/shared"
  chmod 777 "$work/shared"
  echo 'SELECT 1;' > "$work/shared/shop.sql"
  chown daemon "$work/shared/shop.sql"
  chmod 666 "$work/shared/shop.sql"
  start "$work/shared.log" "$work/shared" shop setpriv --reuid=nobody --regid=nogroup --clear-groups
  wait_for 60 has_line "$work/shared.log" '^备份(完毕|失败)' || fail "shared: no backup reported"
  stop
  has_line "$work/shared.log" '^警告：原备份文件属于其他账号' || fail "shared: no warning"
  [ "$(stat -c %U:%a "$work/shared/shop.sql")" = nobody:600 ] ||
    fail "shared: the new dump is $(stat -c %U:%a "$work/shared/shop.sql")"
}

# The program's output piped into a reader that exits: counting and backing
# up go on, and the tool never hears of it.
dead_log_reader() {
  stand_in 'echo "-- a dump $(date +%s%N)"'
  mkdir "$work/bak"
  printf '%s\n' 1 127.0.0.1 dumper secret shop "$work/bak/" shop 2 > "$work/answers"
  (echo "$BASHPID" > "$work/pid"
   PATH="$work/tool:$PATH" exec "${fast_clock[@]}" "$autodump" < "$work/answers" 2> "$work/errors") |
    head -n 3 > /dev/null &
  local pipeline=$!
  wait_for 10 test -s "$work/pid" || { fail "the program did not start"; return; }
  app_pid=$(cat "$work/pid")
  started+=("$app_pid")
  if wait_for 60 test -s "$work/bak/shop.sql"; then
    local first
    first=$(cat "$work/bak/shop.sql")
    wait_for 60 eval '[ "$(cat "$work/bak/shop.sql")" != "$first" ]' ||
      fail "no backup after the first once the reader was gone"
  else
    fail "no backup once the reader was gone"
  fi
  runs "$app_pid" || fail "the program ended with its reader"
  stop
  wait "$pipeline" 2> /dev/null
}

# family_stand_in FAMILY VERSION ANSWER: a mysqldump that answers --version
# with ANSWER and takes exactly the options that FAMILY's tool of VERSION
# takes, saying on standard error what that tool would say of the others
# (MySQL's against a server without histograms, with GTIDs, and an account
# without the PROCESS privilege). Each call's arguments go to "$work/calls".
family_stand_in() {
  stand_in "family=$1 version=$2
calls='$work/calls'
at_least() {
  [ \"\$(printf '%s\n' \"\$1\" \"\$version\" | sort -t. -k1,1n -k2,2n -k3,3n | head -1)\" = \"\$1\" ]
}
mysql_from() { [ \$family = mysql ] && at_least \"\$1\"; }
printf '%s\n' \"\$*\" >> \"\$calls\"
if [ \"\$*\" = '--no-defaults --version' ]; then echo '$3'; exit 0; fi
case \$1 in
  --defaults-extra-file=*) grep -q '^password=\"' \"\${1#*=}\" || exit 9; shift ;;
esac
tablespaces=1 gtids=1 statistics=1 names=
for argument; do
  [ -n \"\$names\" ] && continue
  known=1
  case \$argument in
    --) names=1 ;;
    -h*|-u*|--no-data|--skip-lock-tables|--skip-lock-all-tables|--skip-flush-logs|--skip-flush-privileges) ;;
    -p*) [ \$family = mysql ] && echo 'mysqldump: [Warning] Using a password on the command line interface can be insecure.' >&2 ;;
    --no-tablespaces) tablespaces= ;;
    --master-data=*|--dump-slave=*|--skip-delete-master-logs)
      mysql_from 8.0.26 && echo \"WARNING: \${argument%%=*} is deprecated and will be removed in a future version.\" >&2 ;;
    --set-gtid-purged=OFF) mysql_from 5.6.9 && gtids= || known= ;;
    --column-statistics=0) mysql_from 8.0.2 && statistics= || known= ;;
    --source-data=*|--dump-replica=*|--skip-delete-source-logs) mysql_from 8.0.26 || known= ;;
    -*) known= ;;
  esac
  [ -n \"\$known\" ] && continue
  case \$argument in
    *=*) echo \"mysqldump: unknown variable '\${argument#--}'\" >&2; exit 7 ;;
    *) echo \"mysqldump: unknown option '\$argument'\" >&2; exit 2 ;;
  esac
done
if [ \$family = mysql ]; then
  [ -n \"\$statistics\" ] && mysql_from 8.0.2 && { echo \"mysqldump: Couldn't execute 'SELECT COLUMN_NAME FROM information_schema.COLUMN_STATISTICS': Unknown table 'COLUMN_STATISTICS' in information_schema (1109)\" >&2; exit 2; }
  [ -n \"\$gtids\" ] && echo 'Warning: A partial dump from a server that has GTIDs will by default include the GTIDs of all transactions.' >&2
  [ -n \"\$tablespaces\" ] && { mysql_from 8.0.21 || { at_least 5.7.31 && ! at_least 5.8.0; }; } &&
    echo \"mysqldump: Error: 'Access denied; you need (at least one of) the PROCESS privilege(s) for this operation' when trying to dump tablespaces\" >&2
fi
printf -- '-- dump\nCREATE TABLE \`t\` (\n  id int\n);\n-- Dump completed\n'"
}

# Each family and version of the tool operators have: the check and the dump
# pass with options it takes, and nothing is said on standard error. The first
# two seconds run on the real clock, so that the check can succeed.
tool_families() {
  # A day in twenty seconds: a loaded machine may take a few to start a tool.
  use_fast_clock 4320
  local family version answer
  while IFS='|' read -r family version answer; do
    family_stand_in "$family" "$version" "$answer"
    rm -f "$work/calls"
    mkdir -p "$work/bak"
    start "$work/$version.log" "$work/bak" "$version" env FAKETIME_START_AFTER_SECONDS=2
    wait_for 60 has_line "$work/$version.log" '^备份(完毕|失败)' || fail "$version: no backup reported"
    stop
    grep -E '^(警告|备份失败)' "$work/$version.log" && fail "$family $version: a warning or a failure"
    [ -s "$work/$version.log.err" ] && fail "$family $version said: $(cat "$work/$version.log.err")"
    has_line "$work/calls" '^--no-defaults --version$' || fail "$version: not asked its version"
    [ "$(grep -vc -e '^--defaults-extra-file=' -e '^--no-defaults --version$' "$work/calls")" = 0 ] ||
      fail "$version: a run without the option file first: $(cat "$work/calls")"
    grep -q secret "$work/calls" && fail "$version: the password on a command line"
  done <<'VERSIONS'
mysql|5.7.44|mysqldump  Ver 10.13 Distrib 5.7.44, for Linux (x86_64)
mysql|8.0.25|mysqldump  Ver 8.0.25 for Linux on x86_64 (MySQL Community Server - GPL)
mysql|8.0.36|mysqldump  Ver 8.0.36 for Linux on x86_64 (MySQL Community Server - GPL)
mysql|8.4.3|mysqldump  Ver 8.4.3 for Linux on x86_64 (MySQL Community Server - GPL)
mysql|9.1.0|mysqldump  Ver 9.1.0 for Linux on x86_64 (MySQL Community Server - GPL)
mariadb|10.3.39|mysqldump  Ver 10.17 Distrib 10.3.39-MariaDB, for debian-linux-gnu (x86_64)
mariadb|10.11.6|mysqldump  Ver 10.19 Distrib 10.11.6-MariaDB, for debian-linux-gnu (x86_64)
mariadb|11.4.2|mariadb-dump from 11.4.2-MariaDB, client 10.19 for debian-linux-gnu (x86_64)
mariadb|11.8.2|mariadb-dump from 11.8.2-MariaDB, client 10.19 for debian-linux-gnu (x86_64)
VERSIONS
}

case $scenario in
  tool_descendants | foreign_dump_file | dead_log_reader | tool_families) "$scenario" ;;
  *) echo "no such scenario: $scenario"; exit 2 ;;
esac
echo "$scenario: $failures failed"
[ "$failures" -eq 0 ]
