#!/usr/bin/env bash
# backup_test.sh SCENARIO AUTODUMP: runs the real autodump, unchanged, under
# faketime (a day passes in four seconds) against a MariaDB server, and proves
# one thing about it: that its dumps restore to the same data, that no failure
# costs the last good dump, that its schedule keeps its hours. Each scenario is
# a ctest case of its own, in a folder of its own, on a database of its own of
# the server that the scenarios of one run share (`server_up` starts it,
# `server_down` stops it; ctest runs them as a fixture). Exits 77 (skipped)
# where a scenario needs root and has none.
# KEEP=1 keeps the work folder (logs, dumps) for a look afterwards.
set -u
scenario=$1
autodump=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
. "$here/harness.sh"
# Where the shared server's folder is written down, beside the program.
server_note=$(dirname "$autodump")/test-server.path
failures=0
app_pid=
fast_clock_speed=21600
use_fast_clock $fast_clock_speed

# Shell-special bytes of every kind, but no whitespace: the dialogue reads words.
password='p$a&s!'\''"`w;|<>*~#%\x'

# --- the shared server --------------------------------------------------------

# server_up: a server with the account `dumper` and the database `shop`, from
# which each scenario copies its own.
server_up() {
  server_dir=$(mktemp -d /tmp/autodump_server.XXXXXX)
  work=$server_dir
  create_server
  local sql_password=${password//\\/\\\\}
  sql_password=${sql_password//\'/\'\'}
  sql <<SQL
CREATE USER 'dumper'@'127.0.0.1' IDENTIFIED BY '$sql_password';
GRANT ALL ON *.* TO 'dumper'@'127.0.0.1';
CREATE DATABASE shop CHARACTER SET utf8mb4;
USE shop;
CREATE TABLE customers (id INT PRIMARY KEY, name VARCHAR(50), city VARCHAR(50))
  CHARACTER SET utf8mb4;
INSERT INTO customers VALUES (1, '张三', '北京'), (2, '李四', '上海'), (3, 'O''Brien', '广州😀');
CREATE TABLE orders (id INT PRIMARY KEY, customer INT, note VARCHAR(100), amount DECIMAL(10,2))
  CHARACTER SET utf8mb4;
INSERT INTO orders SELECT seq, seq % 3 + 1, CONCAT('订单', seq, '：备份测试'), seq / 7
  FROM seq_1_to_120000;
CREATE TABLE empty_table (id INT) CHARACTER SET utf8mb4;
SQL
  printf '%s %s %s\n' "$server_dir" "$MYSQL_TCP_PORT" "$server_pid" > "$server_note"
  # The server outlives this script: ctest's server_down ends it.
  disown "$server_pid"
  echo "server on port $MYSQL_TCP_PORT in $server_dir"
}

server_down() {
  [ -s "$server_note" ] || return 0
  read -r server_dir MYSQL_TCP_PORT server_pid < "$server_note"
  kill -TERM "$server_pid" 2> /dev/null
  wait_for 60 eval '! kill -0 $server_pid 2> /dev/null' || kill -KILL "$server_pid" 2> /dev/null
  rm -rf "$server_dir" "$server_note"
}

# use_shared_server: the shared server, and a database `db` of this scenario's
# own, copied from `shop`.
use_shared_server() {
  [ -s "$server_note" ] || { echo "no shared server: run the server_up case first"; exit 1; }
  read -r server_dir MYSQL_TCP_PORT server_pid < "$server_note"
  export MYSQL_TCP_PORT
  db=shop_$scenario
  sql -e "DROP DATABASE IF EXISTS $db; CREATE DATABASE $db CHARACTER SET utf8mb4"
  for table in customers orders empty_table; do
    sql -e "CREATE TABLE $db.$table LIKE shop.$table; INSERT INTO $db.$table SELECT * FROM shop.$table"
  done
  good=("127.0.0.1" dumper "$password" "$db" "$work/bak/" shop)
}

# --- the program --------------------------------------------------------------

stop_autodump() {
  [ -n "$app_pid" ] || return 0
  kill -TERM -- "-$app_pid" 2> /dev/null
  wait "$app_pid" 2> /dev/null
  app_pid=
}

# start_autodump LOG ANSWER...: starts autodump in a process group of its own,
# with the answers on its standard input, on the fast clock, and Ctrl-C and
# Ctrl-\ working as in a person's shell (bash ignores them in the background
# jobs of a script). A command in the array `wrap` goes before it; the array
# `clock` sets the clock.
wrap=()
clock=("${fast_clock[@]}")
start_autodump() {
  local log=$1
  shift
  printf '%s\n' "$@" > "$work/answers"
  setsid "${wrap[@]}" env --default-signal=INT,QUIT "${clock[@]}" "$autodump" \
    < "$work/answers" > "$log" 2>&1 &
  app_pid=$!
}

# back_up NAME LOG ANSWER...: one backup with the settings given as the six
# answers; true when it reported success. Stops autodump after that backup.
back_up() {
  local name=$1 log=$2
  shift 2
  start_autodump "$log" 1 "$@" 2
  if ! wait_for 60 has_line "$log" '^(备份完毕|备份失败)'; then
    fail "$name: no backup reported"; tail -5 "$log"
  fi
  stop_autodump
  grep -q '^备份完毕' "$log"
}

checksums() { sql -N -e "CHECKSUM TABLE $1.customers, $1.orders, $1.empty_table" | cut -f2; }

# last_good_dump: a first backup, kept as the dump every failure must leave.
last_good_dump() {
  back_up "last good dump" "$work/last_good.log" "${good[@]}" || fail "the first dump failed"
  cp "$work/bak/shop.sql" "$work/last_good.sql"
}

# expect_failure NAME DUMP_FILE ANSWER...: the backup fails, says so, and leaves
# DUMP_FILE as the last good dump left it, with nothing else beside it.
expect_failure() {
  local name=$1 dump=$2
  shift 2
  if back_up "$name" "$work/$name.log" "$@"; then
    fail "$name: reported as success"
  elif ! grep -qE '^备份失败，原备份文件保持不变，退出状态：[1-9][0-9]*$' "$work/$name.log"; then
    fail "$name: no failure line"
  fi
  cmp -s "$dump" "$work/last_good.sql" || fail "$name: the last good dump was changed"
  [ -z "$(ls "$(dirname "$dump")" | grep '\.part$')" ] || fail "$name: a temporary file is left"
}

# holds PATH MIN_BYTES: whether the file at PATH holds at least MIN_BYTES.
holds() { [ "$(stat -c %s "$1" 2> /dev/null || echo -1)" -ge "$2" ]; }

# lock_orders: holds a write lock on this scenario's orders table, so that its
# dumps wait, until unlock_orders.
lock_orders() {
  sql -N --unbuffered -e "SELECT CONNECTION_ID(); LOCK TABLES $db.orders WRITE; SELECT SLEEP(300)" \
    > "$work/locker" 2>&1 &
  wait_for 10 eval '[ -s "$work/locker" ]'
}
unlock_orders() { sql -e "KILL $(head -1 "$work/locker")" 2> /dev/null; }

needs_root() {
  [ "$(id -u)" -eq 0 ] && return 0
  echo "SKIPPED: $scenario needs root"
  exit 77
}

# --- the scenarios --------------------------------------------------------------

# A dump that restores, readable by this account alone.
restores() {
  if back_up "first dump" "$work/first.log" "${good[@]}"; then
    expected_line="备份完毕，备份文件存放在$work/bak/目录下的shop.sql"
    grep -qxF "$expected_line" "$work/first.log" || fail "completion line: $(grep 备份完毕 "$work/first.log")"
    grep -qx '现在秒：86399' "$work/first.log" || fail "the count does not start at 86399"
    # On the fast clock the connection check has no time to succeed: it is
    # tested on the normal clock in connection_check.
    grep '^警告' "$work/first.log" | grep -v '^警告：用当前设置连接数据库失败' &&
      fail "warnings where all is in order"
    [ "$(stat -c %a "$work/bak/shop.sql")" = 600 ] || fail "a new dump is readable by others"
    sql -e "DROP DATABASE IF EXISTS ${db}_copy; CREATE DATABASE ${db}_copy CHARACTER SET utf8mb4"
    sql "${db}_copy" < "$work/bak/shop.sql" || fail "the dump does not restore"
    [ "$(checksums "$db")" = "$(checksums "${db}_copy")" ] || fail "restored tables differ"
    [ "$(sql -N -e "SELECT COUNT(*) FROM ${db}_copy.orders")" = 120000 ] || fail "rows lost"
  else
    fail "first dump failed: $(grep -v '^现在秒' "$work/first.log" | head -5)"
  fi
  [ -z "$(ls "$work/bak" | grep -v '^shop.sql$')" ] || fail "left behind: $(ls "$work/bak")"
}

# The next dump replaces the last, keeping its permissions; no shell runs.
replaces() {
  last_good_dump
  sql -e "INSERT INTO $db.customers VALUES (4, '王五', '深圳')"
  chmod 640 "$work/bak/shop.sql"
  wrap=(strace -f -qq -e trace=execve -e signal=none -o "$work/programs")
  back_up "second dump" "$work/second.log" "${good[@]}" || fail "second dump failed"
  wrap=()
  # Debian's mysqldump stands beside mariadb-dump, its name from MariaDB 11 on.
  grep -q 'execve("[^"]*/mariadb-dump"' "$work/programs" || fail "no mariadb-dump seen: $(cat "$work/programs")"
  shells=$(grep -oE 'execve\("[^"]*/(sh|bash|dash)"' "$work/programs")
  [ -z "$shells" ] || fail "a shell ran: $shells"
  grep -q '王五' "$work/bak/shop.sql" || fail "the second dump did not replace the first"
  [ "$(stat -c %a "$work/bak/shop.sql")" = 640 ] || fail "the dump file lost its permissions"
}

# A wrong password, a missing folder, a server that does not answer: the last
# good dump stays.
failures_keep_the_dump() {
  last_good_dump
  wrong=("${good[@]}")
  wrong[2]="${password}x"
  expect_failure wrong_password "$work/bak/shop.sql" "${wrong[@]}"
  wrong=("${good[@]}")
  wrong[4]="$work/missing/"
  back_up missing_directory "$work/missing.log" "${wrong[@]}" && fail "missing directory: reported as success"
  grep -qE '^备份失败，原备份文件保持不变，新备份无法保存：.*: No such file or directory$' "$work/missing.log" ||
    fail "missing directory: no failure line with the reason"
  [ ! -e "$work/missing" ] || fail "missing directory: something was created"
  # Nothing listens on port 1: as a server that is down.
  MYSQL_TCP_PORT=1 expect_failure stopped_server "$work/bak/shop.sql" "${good[@]}"
}

# A dump larger than the space left on its file system.
full_disk() {
  needs_root
  mkdir "$work/small"
  mount -t tmpfs -o size=1m tmpfs "$work/small" || { echo "SKIPPED: no tmpfs to mount"; exit 77; }
  echo "an old dump" > "$work/small/shop.sql"
  full=("${good[@]}")
  full[4]="$work/small/"
  if back_up full_disk "$work/full_disk.log" "${full[@]}"; then
    fail "full disk: reported as success"
  elif ! grep -qE '^备份失败，原备份文件保持不变，' "$work/full_disk.log"; then
    fail "full disk: no failure line"
  fi
  [ "$(cat "$work/small/shop.sql")" = "an old dump" ] || fail "full disk: the last good dump was changed"
  [ ! -e "$work/small/shop.sql.part" ] || fail "full disk: a temporary file is left"
}

# A link of this account's is written through; a temporary file swapped for a
# link meanwhile sends the dump nowhere.
links() {
  last_good_dump
  mkdir "$work/linked"
  ln -s ../linked/target.sql "$work/bak/link.sql"
  back_up "symbolic link" "$work/link.log" "${good[@]:0:5}" link || fail "symbolic link: backup failed"
  [ "$(readlink "$work/bak/link.sql")" = ../linked/target.sql ] || fail "symbolic link: the link was replaced"
  grep -q 'Dump completed' "$work/linked/target.sql" || fail "symbolic link: the target holds no dump"
  ls "$work/bak" "$work/linked" | grep -q '\.part$' && fail "symbolic link: a temporary file is left"

  # A stand-in tool that does what another account with write access to the
  # folder could do meanwhile: put a link to a file of root's at the temporary name.
  mkdir "$work/swap"
  printf '#!/bin/sh\nrm -f "$PART"; ln -s "$VICTIM" "$PART"; echo "-- a dump"\n' > "$work/swap/mysqldump"
  chmod +x "$work/swap/mysqldump"
  echo "root's own" > "$work/victim"
  chmod 600 "$work/victim"
  PATH="$work/swap:$PATH" PART="$work/bak/shop.sql.part" VICTIM="$work/victim" \
    back_up "swapped temporary file" "$work/swap.log" "${good[@]}" && fail "swapped temporary file: reported as success"
  grep -q '^备份失败，原备份文件保持不变，新备份无法保存：' "$work/swap.log" ||
    fail "swapped temporary file: no failure line: $(grep '^备份' "$work/swap.log")"
  [ "$(cat "$work/victim")" = "root's own" ] || fail "swapped temporary file: another file was written"
  [ ! -L "$work/bak/shop.sql" ] && cmp -s "$work/bak/shop.sql" "$work/last_good.sql" ||
    fail "swapped temporary file: the dump file was changed"
}

# Another account's link, in a folder of its own or in a sticky shared one, is
# not followed: it could point at any file root may write. A pipe or a device
# gets the dump written into it, unless another account owns it.
other_accounts_links_and_devices() {
  needs_root
  chmod 755 "$work"
  mkdir "$work/theirs" "$work/sticky"
  chown nobody "$work/theirs"
  chmod 1777 "$work/sticky"
  echo "root's only" > "$work/root_only"
  chmod 600 "$work/root_only"
  for folder in theirs sticky; do
    setpriv --reuid=nobody --regid=nogroup --clear-groups ln -s "$work/root_only" "$work/$folder/shop.sql"
    back_up "$folder link" "$work/${folder}_link.log" "${good[@]:0:4}" "$work/$folder/" shop &&
      fail "$folder link: reported as success"
    grep -qxF "警告：备份文件是其他账号建立的符号链接，不会跟随：$work/$folder/shop.sql" "$work/${folder}_link.log" ||
      fail "$folder link: no warning: $(grep '^警告' "$work/${folder}_link.log")"
    grep -qxF "备份失败，原备份文件保持不变，新备份无法保存：$work/$folder/shop.sql: Permission denied" \
      "$work/${folder}_link.log" || fail "$folder link: $(grep '^备份' "$work/${folder}_link.log")"
    [ "$(cat "$work/root_only")" = "root's only" ] && [ "$(stat -c %U:%a "$work/root_only")" = root:600 ] ||
      fail "$folder link: the file it points at was changed"
    [ -L "$work/$folder/shop.sql" ] || fail "$folder link: the link was replaced"
  done

  mkdir "$work/nodes"
  mkfifo "$work/nodes/piped.sql"
  cat "$work/nodes/piped.sql" > "$work/from_pipe.sql" &
  reader=$!
  back_up "pipe" "$work/pipe.log" "${good[@]:0:4}" "$work/nodes/" piped || fail "pipe: backup failed"
  wait "$reader"
  [ -p "$work/nodes/piped.sql" ] || fail "pipe: it is no pipe any more"
  grep -q 'Dump completed' "$work/from_pipe.sql" || fail "pipe: the reader did not get the dump"
  grep -qE '^本次备份用时：[^，]*$' "$work/pipe.log" || fail "pipe: $(grep '^本次备份用时' "$work/pipe.log")"
  mknod "$work/nodes/null.sql" c 1 3
  back_up "device" "$work/device.log" "${good[@]:0:4}" "$work/nodes/" null || fail "device: backup failed"
  [ -c "$work/nodes/null.sql" ] || fail "device: it is no device any more"
  chown nobody "$work/nodes/piped.sql"
  back_up "another's pipe" "$work/their_pipe.log" "${good[@]:0:4}" "$work/nodes/" piped &&
    fail "another's pipe: reported as success"
  grep -qF "新备份无法保存：$work/nodes/piped.sql: Permission denied" "$work/their_pipe.log" ||
    fail "another's pipe: $(grep '^备份' "$work/their_pipe.log")"
  ls "$work/nodes" | grep -q '\.part$' && fail "pipe or device: a temporary file was made"
}

# Nothing typed runs anything else, and an option-like name is a name.
injection() {
  mkdir "$work/inject" "$work/inject/b&touch\${IFS}pwned_dir"
  sql <<'SQL'
CREATE USER 'u;touch${IFS}pwned_user'@'127.0.0.1' IDENTIFIED BY '$(touch${IFS}pwned_password)';
GRANT ALL ON *.* TO 'u;touch${IFS}pwned_user'@'127.0.0.1';
CREATE DATABASE `s|touch${IFS}pwned_db`;
CREATE TABLE `s|touch${IFS}pwned_db`.t (v VARCHAR(10));
INSERT INTO `s|touch${IFS}pwned_db`.t VALUES ('injected?');
CREATE DATABASE `-V`;
CREATE TABLE `-V`.t (v VARCHAR(10));
INSERT INTO `-V`.t VALUES ('dashed');
SQL
  back_up "option-like database" "$work/dashed.log" "${good[@]:0:3}" -V "$work/bak/" dashed ||
    fail "option-like database: backup failed"
  grep -q dashed "$work/bak/dashed.sql" || fail "option-like database: '-V' was not dumped as a database"
  cd "$work/inject"
  back_up "host injection" "$work/inject_host.log" '127.0.0.1;touch${IFS}pwned_host' "${good[@]:1}" &&
    fail "host injection: reported as success"
  back_up "injection" "$work/inject.log" 127.0.0.1 'u;touch${IFS}pwned_user' \
    '$(touch${IFS}pwned_password)' 's|touch${IFS}pwned_db' "$work/inject/b&touch\${IFS}pwned_dir/" \
    '`touch${IFS}pwned_file`' || fail "injection: a dump of odd names failed"
  grep -q "injected?" "$work/inject/b&touch\${IFS}pwned_dir/\`touch\${IFS}pwned_file\`.sql" ||
    fail "injection: the dump is not where its odd name says"
  cd "$work"
  pwned=$(find "$work" -name 'pwned_*' ! -name '*.sql' ! -name 'b&*')
  [ -z "$pwned" ] || fail "a typed value ran a command: $pwned"
}

# A signal during a dump ends the dump tool and the program; a dump still
# waiting when the next is due is ended, and the next starts.
signals() {
  last_good_dump
  # A write lock held elsewhere keeps the dump waiting for as long as needed.
  lock_orders
  # Ctrl-C reaches the whole process group; a service manager's TERM, or any
  # other signal, only the program.
  for how in INT TERM USR1 KILL; do
    start_autodump "$work/$how.log" 1 "${good[@]}" 2
    if ! wait_for 60 holds "$work/bak/shop.sql.part" 0; then
      fail "$how: the dump never started"
      stop_autodump
      continue
    fi
    sleep 0.5
    ps -eo args > "$work/processes"
    grep -qF -- "${password:0:6}" "$work/processes" && fail "$how: the password shows in the process list"
    if [ $how = INT ]; then
      kill -INT -- "-$app_pid"
    else
      kill -$how "$(pgrep -g "$app_pid" -x autodump)"
    fi
    # The tool runs in a process group of its own, in autodump's session.
    for _ in $(seq 100); do pgrep -s "$app_pid" > /dev/null || break; sleep 0.05; done
    left=$(pgrep -s "$app_pid" -a)
    [ -z "$left" ] || fail "$how: still running: $left"
    # It says what it did; SIGKILL leaves no time to.
    said=$(grep '^备份' "$work/$how.log")
    expected=备份已中断，原备份文件保持不变
    [ $how = KILL ] && expected=
    [ "$said" = "$expected" ] || fail "$how: reported: $said"
    cmp -s "$work/bak/shop.sql" "$work/last_good.sql" || fail "$how: the last good dump was changed"
    # Nothing can tidy up after SIGKILL: the next backup does.
    [ $how = KILL ] || [ ! -e "$work/bak/shop.sql.part" ] || fail "$how: a temporary file is left"
    stop_autodump
  done

  # The first backup clears what SIGKILL left.
  start_autodump "$work/overran.log" 1 "${good[@]}" 2
  if wait_for 40 has_line "$work/overran.log" '^备份'; then
    grep -A3 '^备份' "$work/overran.log" | head -4 | sed 's/：2.*/：(time)/' > "$work/overran.tail"
    printf '%s\n' 备份失败，原备份文件保持不变，到下次备份时间仍未完成 '下次备份时间：(time)' 现在秒：0 \
      开始执行备份。。 | cmp -s - "$work/overran.tail" || fail "overran: $(cat "$work/overran.tail")"
    cmp -s "$work/bak/shop.sql" "$work/last_good.sql" || fail "overran: the last good dump was changed"
  else
    fail "overran: no backup reported"
  fi
  stop_autodump
  unlock_orders
  [ ! -e "$work/bak/shop.sql.part" ] || fail "overran: a temporary file is left"
}

# What the tool starts ends with it: a wrapper's child left waiting, a tool
# that ignores TERM; a child that writes late is in the dump.
tool_children() {
  last_good_dump
  real_tool=$(command -v mysqldump)
  mkdir "$work/wrapper" "$work/stubborn" "$work/late"
  printf '#!/bin/sh\nsleep 77 &\necho $! >> "%s"\nexec "%s" "$@"\n' "$work/wrapper_children" "$real_tool" \
    > "$work/wrapper/mysqldump"
  # A tool that ignores TERM, as do the sleeps it starts.
  printf '#!/bin/sh\ntrap "" TERM\necho "-- partial"\nwhile :; do sleep 1; done\n' > "$work/stubborn/mysqldump"
  # A wrapper whose child writes into the dump a second after the tool has ended.
  printf '#!/bin/sh\n(sleep 1; echo "-- written late by a child") &\n"%s" "$@"\n' "$real_tool" > "$work/late/mysqldump"
  chmod +x "$work/wrapper/mysqldump" "$work/stubborn/mysqldump" "$work/late/mysqldump"
  lock_orders
  for tool in wrapper stubborn; do
    PATH="$work/$tool:$PATH" start_autodump "$work/$tool.log" 1 "${good[@]}" 2
    if ! wait_for 60 has_line "$work/$tool.log" '^开始执行备份' ||
      ! wait_for 60 holds "$work/bak/shop.sql.part" 0; then
      fail "$tool: the dump never started"
      stop_autodump
      continue
    fi
    sleep 0.3
    kill -TERM "$app_pid"
    started=$SECONDS
    wait_for 15 eval '! pgrep -s "$app_pid" > /dev/null' || fail "$tool: still running: $(pgrep -s "$app_pid" -a)"
    [ $((SECONDS - started)) -le 12 ] || fail "$tool: the program took $((SECONDS - started)) s to end"
    for child in $(cat "$work/wrapper_children" 2> /dev/null); do
      kill -0 "$child" 2> /dev/null && fail "$tool: the wrapper's child $child outlived the program"
    done
    cmp -s "$work/bak/shop.sql" "$work/last_good.sql" || fail "$tool: the last good dump was changed"
    [ ! -e "$work/bak/shop.sql.part" ] || fail "$tool: a temporary file is left"
    stop_autodump
  done
  # Only what this test started, by its id.
  [ ! -s "$work/wrapper_children" ] || xargs -r kill 2> /dev/null < "$work/wrapper_children"
  unlock_orders

  # The late child's line is in the dump by the time it is reported complete.
  PATH="$work/late:$PATH" start_autodump "$work/late.log" 1 "${good[@]:0:5}" late 2
  if wait_for 60 has_line "$work/late.log" '^备份(完毕|失败)'; then
    grep -q '^-- written late by a child' "$work/bak/late.sql" ||
      fail "late child: the dump was put in place before the child ended"
  else
    fail "late child: no backup reported"
  fi
  stop_autodump
}

# The count follows the clock, not the ticks: a process stopped for a second
# of real time (six hours on the fast clock) finds a count gone down by as much.
count_follows_the_clock() {
  start_autodump "$work/stopped.log" 4 7 2
  wait_for 60 has_line "$work/stopped.log" '^现在秒' || fail "stopped: no count"
  sleep 0.2
  kill -STOP "$app_pid"
  stopped_at=$EPOCHREALTIME
  sleep 1
  kill -CONT "$app_pid"
  resumed_at=$EPOCHREALTIME
  sleep 0.2
  stop_autodump
  drop=$(sed -n 's/^现在秒：//p' "$work/stopped.log" | awk 'NR > 1 && last - $1 > most {most = last - $1} {last = $1} END {print most + 0}')
  expected=$(awk "BEGIN {printf \"%d\", ($resumed_at - $stopped_at) * $fast_clock_speed}")
  [ "$drop" -ge $((expected * 9 / 10)) ] && [ "$drop" -le $((expected + fast_clock_speed / 5)) ] ||
    fail "stopped: the count dropped by $drop at most, not about $expected"
}

# A first check of the connection, on the normal clock: a wrong password is
# told before the count; an option file that locks all tables and flushes the
# logs for the real dumps makes the check flush nothing on the server, nor
# lock more than the one table it proves the account may lock. The general
# log is the server's as a whole: this runs on a server of its own.
connection_check() {
  server_dir=$work
  create_server
  sql -e "CREATE USER 'dumper'@'127.0.0.1' IDENTIFIED BY 'pw'; GRANT ALL ON *.* TO 'dumper'@'127.0.0.1';
          CREATE DATABASE shop; CREATE TABLE shop.t1 (id INT); CREATE TABLE shop.t2 (id INT)"
  good=("127.0.0.1" dumper pw shop "$work/bak/" shop)
  clock=(env)
  for run in good wrong; do
    answers=("${good[@]}")
    [ $run = wrong ] && answers[2]=wrong-password
    start_autodump "$work/check_$run.log" 1 "${answers[@]}" 2
    wait_for 40 has_line "$work/check_$run.log" '^现在秒' || fail "check $run: no count"
    stop_autodump
    before_count=$(sed -n '/^现在秒/q; p' "$work/check_$run.log")
    if [ $run = good ]; then
      grep -q '^警告' <<< "$before_count" && fail "check good: $(grep '^警告' <<< "$before_count")"
    else
      grep -qE '^警告：用当前设置连接数据库失败，退出状态：[1-9][0-9]*$' <<< "$before_count" ||
        fail "check wrong: no warning before the count: $before_count"
    fi
  done
  mkdir "$work/home"
  printf '[mysqldump]\nlock-all-tables\nflush-logs\n' > "$work/home/.my.cnf"
  sql -e "SET GLOBAL general_log_file = '$work/general.log'; SET GLOBAL general_log = 1"
  wrap=(env HOME="$work/home")
  start_autodump "$work/check_options.log" 1 "${good[@]}" 2
  wait_for 40 has_line "$work/check_options.log" '^现在秒' || fail "check options: no count"
  stop_autodump
  sql -e "SET GLOBAL general_log = 0"
  grep -q 'dumper@' "$work/general.log" || fail "check options: the check did not connect"
  grep -iE '\bFLUSH\b' "$work/general.log" | grep -v 'general_log' &&
    fail "check options: the check flushed on the server"
  # The dump's own table lock, on one table: never all of them, never a global one.
  has_line "$work/general.log" 'LOCK TABLES `[^`]*` READ' || fail "check options: no table lock checked"
  grep -E 'LOCK TABLES' "$work/general.log" | grep -v UNLOCK | awk -F' READ' 'NF != 2' | grep . &&
    fail "check options: the check locked more than one table"
  grep '^警告' "$work/check_options.log" && fail "check options: a warning"
}

# A big dump: with standard output closed the program prints nothing into it;
# its progress shows sizes that never shrink, and its size at the end; the
# server lost halfway through fails it. The server is killed: one of its own.
big_dump() {
  server_dir=$work
  create_server
  sql -e "CREATE USER 'dumper'@'127.0.0.1' IDENTIFIED BY 'pw'; GRANT ALL ON *.* TO 'dumper'@'127.0.0.1'"
  sql <<'SQL'
CREATE DATABASE big CHARACTER SET utf8mb4;
USE big;
CREATE TABLE padded (id INT PRIMARY KEY, pad VARCHAR(300)) CHARACTER SET utf8mb4;
INSERT INTO padded SELECT seq, REPEAT('数据', 100) FROM seq_1_to_400000;
SQL
  big=("127.0.0.1" dumper pw big "$work/bak/" big)

  # Started with its standard output closed, the program must not print into
  # the dump, which would otherwise take that descriptor.
  mkdir "$work/closed"
  printf '%s\n' 1 "${big[@]:0:4}" "$work/closed/" big 2 > "$work/closed.answers"
  setsid env --default-signal=INT,QUIT "${clock[@]}" "$autodump" < "$work/closed.answers" >&- \
    2> "$work/closed.log" &
  app_pid=$!
  if wait_for 60 eval '[ -s "$work/closed/big.sql" ] && [ ! -e "$work/closed/big.sql.part" ]'; then
    grep -aE '正在备份|现在秒|开始执行备份|下次备份时间' "$work/closed/big.sql" | head -c 300 |
      grep . && fail "stdout closed: the program's lines are in the dump"
    tail -c 100 "$work/closed/big.sql" | grep -q 'Dump completed' || fail "stdout closed: the dump is not complete"
  else
    fail "stdout closed: no dump: $(cat "$work/closed.log")"
  fi
  stop_autodump

  back_up "progress" "$work/progress.log" "${big[@]}" || fail "progress: the big dump failed"
  # in_bytes: each size as printed ("812.0 KB") in bytes, then its unit's.
  in_bytes() { awk '{m = 1; if ($2 == "KB") m = 2^10; if ($2 == "MB") m = 2^20; if ($2 == "GB") m = 2^30; print $1 * m, m}'; }
  sizes=$(sed -n 's/^正在备份，已用时：.*，已写入：//p' "$work/progress.log" | in_bytes | cut -d' ' -f1)
  [ "$(wc -l <<< "$sizes")" -ge 3 ] || fail "progress: fewer than three progress lines"
  sort -g -c <<< "$sizes" || fail "progress: a size went down"
  # The size shown for the new dump, to its one decimal.
  sed -n 's/^本次备份用时：.*，文件大小：//p' "$work/progress.log" | head -1 | in_bytes |
    awk -v size="$(stat -c %s "$work/bak/big.sql")" '{ok = ($1 - size) ^ 2 <= ($2 / 20) ^ 2} END {exit !ok}' ||
    fail "progress: not its size: $(grep '^本次备份用时' "$work/progress.log")"

  echo "-- the last good dump" > "$work/last_good.sql"
  cp "$work/last_good.sql" "$work/bak/big.sql"
  start_autodump "$work/lost_server.log" 1 "${big[@]}" 2
  if wait_for 60 holds "$work/bak/big.sql.part" 20000000; then
    stop_server -KILL
    wait_for 60 has_line "$work/lost_server.log" '^备份(完毕|失败)' || fail "lost server: no backup reported"
    grep -qE '^备份失败，原备份文件保持不变，退出状态：[1-9][0-9]*$' "$work/lost_server.log" ||
      fail "lost server: no failure line: $(grep '^备份' "$work/lost_server.log")"
    cmp -s "$work/bak/big.sql" "$work/last_good.sql" || fail "lost server: the last good dump was changed"
    [ ! -e "$work/bak/big.sql.part" ] || fail "lost server: a temporary file is left"
  else
    fail "lost server: the dump did not get going"
  fi
  stop_autodump
}

# --- running one ----------------------------------------------------------------

case $scenario in
  server_up) server_up; exit ;;
  server_down) server_down; exit ;;
esac
declare -F "$scenario" > /dev/null || { echo "no such scenario: $scenario"; exit 2; }

work=$(mktemp -d /tmp/autodump_backup.XXXXXX)
cleanup() {
  stop_autodump
  [ -z "${server_dir:-}" ] || [ "$server_dir" != "$work" ] || stop_server
  [ ! -s "$work/locker" ] || unlock_orders
  mountpoint -q "$work/small" 2> /dev/null && umount "$work/small"
  cd / && [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
mkdir "$work/bak"
case $scenario in
  connection_check | big_dump | count_follows_the_clock) ;;
  *) use_shared_server ;;
esac
"$scenario"
echo "$scenario: $failures failed"
[ "$failures" -eq 0 ]
