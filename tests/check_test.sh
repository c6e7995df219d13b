#!/usr/bin/env bash
# Runs the real autodump, unchanged, against a MariaDB server and client of its
# own, and proves that the check at start sees what the dump will need: an
# account that may not lock tables is told at once, a database of thousands of
# tables passes without a lock on more than one, the README's grants are
# enough for a dump that restores, every awkward byte of a password logs in,
# and no password stands on any command line.
set -u
autodump=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
. "$here/harness.sh"
work=$(mktemp -d /tmp/autodump_check.XXXXXX)
cd "$work"
failures=0
tidy_up_on_exit
create_server

# The tool, through a wrapper that records each run's arguments as the
# process list shows them (it replaces itself with the tool).
real_tool=$(command -v mariadb-dump)
mkdir "$work/tool"
printf '#!/bin/sh\nprintf "%%s\\n" "$*" >> "%s/calls"\nexec "%s" "$@"\n' "$work" "$real_tool" \
  > "$work/tool/mysqldump"
chmod +x "$work/tool/mysqldump"

# start_checking NAME USER PASSWORD DATABASE [CLOCK...]: autodump, answered to
# back DATABASE up into "$work/bak", started in the background.
start_checking() {
  local name=$1
  mkdir -p "$work/bak"
  answers "$work/$name.answers" "$2" "$3" "$4" "$work/bak" "$4"
  shift 4
  PATH="$work/tool:$PATH" "$@" "$autodump" < "$work/$name.answers" > "$work/$name.log" \
    2> "$work/$name.err" &
  pids+=($!)
}

# checked NAME USER PASSWORD DATABASE: what the check at start printed, on the
# real clock (the lines before the first count).
checked() {
  start_checking "$@"
  wait_for 60 has_line "$work/$1.log" '^现在秒' || fail "$1: no count: $(tail -3 "$work/$1.log")"
  kill "${pids[-1]}"
  wait "${pids[-1]}" 2> /dev/null
  unset 'pids[-1]'
  sed -n '/^现在秒/q; /^警告/p' "$work/$1.log"
}

# The README's grants, on both families.
sql <<'SQL'
CREATE DATABASE shop CHARACTER SET utf8mb4;
CREATE TABLE shop.orders (id INT PRIMARY KEY, note VARCHAR(20));
INSERT INTO shop.orders VALUES (1, '订单'), (2, 'second');
CREATE VIEW shop.notes AS SELECT note FROM shop.orders;
CREATE DATABASE shop_copy CHARACTER SET utf8mb4;
CREATE USER 'reader'@'127.0.0.1' IDENTIFIED BY 'reader-pw';
GRANT SELECT ON shop.* TO 'reader'@'127.0.0.1';
CREATE USER 'viewer'@'127.0.0.1' IDENTIFIED BY 'viewer-pw';
GRANT SELECT, SHOW VIEW ON shop.* TO 'viewer'@'127.0.0.1';
CREATE USER 'backup'@'127.0.0.1' IDENTIFIED BY 'backup-pw';
GRANT SELECT, LOCK TABLES, SHOW VIEW, TRIGGER ON shop.* TO 'backup'@'127.0.0.1';
SQL

# Accounts that may read but not lock: told at start, with the tool's reason.
for account in reader viewer; do
  said=$(checked "$account" "$account" "$account-pw" shop)
  grep -qE '^警告：用当前设置连接数据库失败，退出状态：[1-9]' <<< "$said" ||
    fail "$account: no warning at start: $said"
done
grep -q 'SHOW VIEW command denied' "$work/reader.err" ||
  fail "reader: not the tool's own reason: $(cat "$work/reader.err")"
grep -q 'when doing LOCK TABLES' "$work/viewer.err" ||
  fail "viewer: not the tool's own reason: $(cat "$work/viewer.err")"

said=$(checked granted backup backup-pw shop)
[ -z "$said" ] || fail "granted: $said $(cat "$work/granted.err")"
grep -q 'backup-pw' "$work/calls" && fail "a password on a command line: $(cat "$work/calls")"
grep -c '^--defaults-extra-file=/dev/fd/[0-9]* -h127.0.0.1 -ubackup ' "$work/calls" | grep -qx 2 ||
  fail "granted: not two runs with the option file first: $(cat "$work/calls")"

# A backup with those grants, on a clock that runs fast once the check is done.
use_fast_clock 21600
start_checking restored backup backup-pw shop env FAKETIME_START_AFTER_SECONDS=3 "${fast_clock[@]}"
wait_for 60 has_line "$work/restored.log" '^备份(完毕|失败)' || fail "restored: no backup reported"
kill "${pids[-1]}"
has_line "$work/restored.log" '^备份完毕' || fail "restored: $(grep '^备份' "$work/restored.log") $(cat "$work/restored.err")"
sql shop_copy < "$work/bak/shop.sql" || fail "restored: the dump does not restore"
[ "$(sql -N -e 'SELECT note FROM shop_copy.notes ORDER BY note')" = $'second\n订单' ] ||
  fail "restored: not the same data"
[ -s "$work/restored.err" ] && fail "restored: the tool said: $(cat "$work/restored.err")"

# Every awkward byte of a password logs in through the option file: given to
# the server as its hash, so that no SQL quoting stands between.
native_hash() {
  printf '%s' "$1" | python3 -c 'import hashlib, sys
print("*" + hashlib.sha1(hashlib.sha1(sys.stdin.buffer.read()).digest()).hexdigest().upper())'
}
passwords=('-#;'\''"\=$!' $'\xd6\xd0\xce\xc4#x\\' '"' '\')
for i in "${!passwords[@]}"; do
  sql -e "CREATE USER 'odd$i'@'127.0.0.1' IDENTIFIED BY PASSWORD '$(native_hash "${passwords[$i]}")';
          GRANT SELECT, LOCK TABLES, SHOW VIEW, TRIGGER ON shop.* TO 'odd$i'@'127.0.0.1'"
  said=$(checked "odd$i" "odd$i" "${passwords[$i]}" shop)
  [ -z "$said" ] || fail "password $i ($(printf %q "${passwords[$i]}")): $said $(cat "$work/odd$i.err")"
done

# Thousands of tables: the check passes, and locks one table at the most.
sql -N shop -e "SELECT CONCAT('CREATE TABLE wide.t', seq, ' (id INT PRIMARY KEY, v VARCHAR(10));')
                FROM seq_1_to_3000" > "$work/wide.sql"
sql -e "CREATE DATABASE wide; GRANT SELECT, LOCK TABLES, SHOW VIEW, TRIGGER ON wide.* TO 'backup'@'127.0.0.1'"
sql < "$work/wide.sql"
sql -e "SET GLOBAL general_log_file = '$work/general.log'; SET GLOBAL general_log = 1"
said=$(checked wide backup backup-pw wide)
sql -e "SET GLOBAL general_log = 0"
[ -z "$said" ] || fail "wide: $said $(cat "$work/wide.err")"
grep -E 'LOCK TABLES' "$work/general.log" | grep -v UNLOCK | awk -F' READ' 'NF != 2' | grep . &&
  fail "wide: the check locked more than one table"
has_line "$work/general.log" 'LOCK TABLES `[^`]*` READ' || fail "wide: no table lock checked"

echo "check against a server: $failures failed"
[ "$failures" -eq 0 ]
