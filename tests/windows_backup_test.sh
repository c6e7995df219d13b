#!/usr/bin/env bash
# Runs the Windows autodump.exe, unchanged, under wine on a fast clock (a day in
# four seconds) with a stand-in mysqldump.exe, and proves that typed values
# reach the tool exactly, also on an English Windows, that a failing or
# missing tool is a failure, that Ctrl-C during a dump ends the tool and keeps
# the last good dump, that a dump still running when the next is due is ended,
# and that a dump file held by another program is replaced once it is let go.
set -u
autodump=$(realpath "$1")
stand_in=$(realpath "$2")
holder=$(realpath "$3")
work=$(mktemp -d /tmp/autodump_windows.XXXXXX)
failures=0
. "$(dirname "$(realpath "$0")")/harness.sh"

own_server=
cleanup() {
  jobs -p | xargs -r kill 2> /dev/null
  [ -z "$own_server" ] || wineserver -k 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT

gbk() { printf '%s' "$1" | iconv -f UTF-8 -t GBK; }

# The program alone in its folder, so that the tool is found on PATH or not at all.
mkdir "$work/app" "$work/tools" "$work/bak"
cp "$autodump" "$work/app/"
cp "$stand_in" "$work/tools/mysqldump.exe"
tools_path=$(winepath -w "$work/tools")

# The wine server and its services run on the normal clock (their start-up
# timeouts would run out at once on the fast one), kept up until the end; the
# first program starts the services, which would hold a captured run's output.
wineserver -p 2> /dev/null && own_server=1
( wine "$work/app/autodump.exe" < /dev/null > /dev/null 2>&1 )
# The program's clock is read in the program itself, so it runs fast there;
# four seconds a day leave a dump time to be seen before the next is due.
use_fast_clock 21600
fast_clock+=(NO_FAKE_STAT=1)

# run_autodump NAME ANSWER...: starts autodump.exe with the answers on its
# standard input; its output goes to $work/NAME.log.
run_autodump() {
  local name=$1
  shift
  printf '%s\n' "$@" > "$work/$name.answers"
  # Wine's code pages follow the locale: all 936 as on a Chinese Windows, or
  # (C.UTF-8) the ANSI code page 1252 of an English one.
  LC_ALL=${locale:-zh_CN.GBK} "${fast_clock[@]}" wine "$work/app/autodump.exe" < "$work/$name.answers" \
    > "$work/$name.log" 2>&1 &
}

# log_lines NAME: what NAME's run printed, in UTF-8 without CR.
log_lines() { iconv -f GBK -t UTF-8 "$work/$1.log" 2> /dev/null | tr -d '\r'; }

# log_has NAME REGEX [COUNT]: whether COUNT lines (one unless told) of NAME's
# log match REGEX.
log_has() { [ "$(log_lines "$1" | grep -cE "$2")" -ge "${3:-1}" ]; }

# autodump_pids NAME: the wine processes of the run whose answers are NAME's.
autodump_pids() { pgrep -f 'autodump\.exe' | while read -r pid; do
  [ "$(readlink "/proc/$pid/fd/0")" = "$work/$1.answers" ] && echo "$pid"
done; }

# stop NAME: ends NAME's run as Ctrl-C does, so that a dump under way is ended
# and its temporary file removed; by force if it has not ended in ten seconds.
stop() {
  local pids
  pids=$(autodump_pids "$1")
  [ -n "$pids" ] || return 0
  kill -INT $pids 2> /dev/null
  for _ in $(seq 100); do
    [ -z "$(autodump_pids "$1")" ] && return 0
    sleep 0.1
  done
  kill $(autodump_pids "$1") 2> /dev/null
}

reports() { log_lines "$1" | grep -v '^现在秒'; }

# All four runs at once, a day passing in each in a few seconds.

host='h"o\st\'
user='u%PATH%^&|<>()!'
password="$(gbk '謀')\"p\\\"a\\\\\"s%PATH%!x!^"
database='-d"b\'
name="b&%PATH%^!(x)$(gbk '备份')"
bak="$(winepath -w "$work/bak")\\"
# The password reaches the tool only through the option file, escaped as the
# client tools' option files read it back.
quoted=${password//\\/\\\\}
quoted=${quoted//\"/\\\"}
printf -- '--defaults-extra-file:[client]\npassword="%s"\n\0-h%s\0-u%s\0--\0%s\0' \
  "$quoted" "$host" "$user" "$database" > "$work/expected"
FAKE_DUMP_OPTION_PATHS=$work/hostile.options WINEPATH=$tools_path \
  run_autodump hostile 1 "$host" "$user" "$password" "$database" "$bak" "$name" 2

for run in failing crashing all_ones missing interrupt overran; do
  echo "good dump" > "$work/bak/$run.sql"
done
FAKE_DUMP_EXIT=3 WINEPATH=$tools_path run_autodump failing 1 127.0.0.1 root secret shop "$bak" failing 2
# An access violation, and a status with every bit set: statuses, not an overrun.
FAKE_DUMP_EXIT=0xC0000005 WINEPATH=$tools_path run_autodump crashing 1 127.0.0.1 root secret shop "$bak" crashing 2
FAKE_DUMP_EXIT=0xFFFFFFFF WINEPATH=$tools_path run_autodump all_ones 1 127.0.0.1 root secret shop "$bak" all_ones 2
# Names that Windows takes for devices: warned of at start, never saved to.
for device in NUL com1; do
  WINEPATH=$tools_path run_autodump "device_$device" 1 127.0.0.1 root secret shop "$bak" "$device" 2
done
# Names with characters Windows forbids (a colon would name an NTFS stream):
# warned of at start, never saved to, never taken for another program's backup.
forbidden=('db?daily' 'a|b' 'x:y' 'nul:')
for i in "${!forbidden[@]}"; do
  WINEPATH=$tools_path run_autodump "forbidden_$i" 1 127.0.0.1 root secret shop "$bak" "${forbidden[$i]}" 2
done
# The folder in the "\\?\" form works as it is.
WINEPATH=$tools_path run_autodump prefixed 1 127.0.0.1 root secret shop "\\\\?\\$bak" prefixed 2
run_autodump missing 1 127.0.0.1 root secret shop "$bak" missing 2
FAKE_DUMP_SLEEP=100000000 WINEPATH=$tools_path run_autodump interrupt 1 127.0.0.1 root secret shop "$bak" interrupt 2

# A dump older than the interval, left from before a restart: the backup it
# missed is made at the first tick.
echo "good dump" > "$work/bak/missed.sql"
touch -d '2 days ago' "$work/bak/missed.sql"
WINEPATH=$tools_path run_autodump missed 1 127.0.0.1 root secret shop "$bak" missed 2

# GBK answers on an English Windows: the file gets the Chinese name typed.
locale=C.UTF-8 WINEPATH=$tools_path run_autodump english 1 127.0.0.1 root secret shop "$bak" "$(gbk 备份)" 2

# --- a failing or missing tool is a failure -----------------------------------

for run in failing crashing all_ones missing; do
  case $run in
    failing) status=3 ;;
    crashing) status=0xC0000005 ;;
    all_ones) status=0xFFFFFFFF ;;
    missing) status=127 ;;
  esac
  if wait_for 120 log_has $run '^备份'; then
    log_lines $run | grep -qx "备份失败，原备份文件保持不变，退出状态：$status" ||
      fail "$run tool: $(reports $run)"
    log_lines $run | grep -q '到下次备份时间仍未完成' && fail "$run tool: taken for an overrun"
  else
    fail "$run tool: no backup reported"
  fi
  stop $run
  [ "$(cat "$work/bak/$run.sql")" = "good dump" ] || fail "$run tool: the last good dump was changed"
done

# expect_refused RUN FILE REASON: RUN warned at start that FILE cannot be
# saved, for REASON, and its backup failed with the not-saved line and REASON.
expect_refused() {
  if wait_for 120 log_has "$1" '^备份'; then
    log_lines "$1" | grep -qxF "警告：$3，无法保存：$2" ||
      fail "refused name $2: no warning: $(reports "$1" | grep '^警告')"
    log_lines "$1" | grep -qxF "备份失败，原备份文件保持不变，新备份无法保存：${bak}$2: $3" ||
      fail "refused name $2: $(reports "$1" | grep '^备份')"
  else
    fail "refused name $2: no backup reported"
  fi
  stop "$1"
}
for device in NUL com1; do
  expect_refused "device_$device" "$device.sql" 文件名是Windows保留的设备名
done
for i in "${!forbidden[@]}"; do
  expect_refused "forbidden_$i" "${forbidden[$i]}.sql" 文件名含有Windows不允许的字符
done
[ -z "$(ls "$work/bak" | grep -E 'daily|^a.b\.sql|^x.y\.sql|^nul')" ] || fail "forbidden names: a file was made: $(ls "$work/bak")"

if wait_for 120 log_has prefixed '^备份'; then
  log_lines prefixed | grep -q '^备份完毕' || fail "\\\\?\\ folder: $(reports prefixed | grep '^备份')"
  [ -s "$work/bak/prefixed.sql" ] || fail "\\\\?\\ folder: no dump"
else
  fail "\\\\?\\ folder: no backup reported"
fi
stop prefixed

# --- Ctrl-C during a dump ends the tool and keeps the last good dump ----------

if wait_for 120 log_has interrupt '^开始执行备份'; then
  deadline=$((SECONDS + 30))
  until [ -s "$work/bak/interrupt.sql.part" ] || [ $SECONDS -ge $deadline ]; do sleep 0.1; done
  kill -INT $(autodump_pids interrupt)
  for _ in $(seq 100); do
    [ -z "$(autodump_pids interrupt)" ] && ! pgrep -f '^mysqldump ' > /dev/null && break
    sleep 0.1
  done
  [ -z "$(autodump_pids interrupt)" ] || fail "interrupt: autodump goes on"
  pgrep -f '^mysqldump ' > /dev/null && fail "interrupt: the dump tool goes on"
  [ "$(cat "$work/bak/interrupt.sql")" = "good dump" ] || fail "interrupt: the last good dump was changed"
else
  fail "interrupt: the dump never started: $(reports interrupt)"
fi

# --- a dump file held open by another program ---------------------------------

# hold NAME [UNTIL_TEXT]: another program holds bak/NAME.sql, until NAME's log
# holds UNTIL_TEXT (GBK) or for ever.
hold() {
  local name=$1
  shift
  echo "good dump" > "$work/bak/$name.sql"
  local until=()
  [ $# -eq 0 ] || until=("$(winepath -w "$work/$name.log")" "$(gbk "$1")")
  : > "$work/$name.log"
  LC_ALL=zh_CN.GBK wine "$holder" "$(winepath -w "$work/bak/$name.sql")" "${until[@]}" > "$work/$name.holder" &
  for _ in $(seq 100); do grep -q holding "$work/$name.holder" && return; sleep 0.1; done
  fail "$name: the holder did not start"
}
waiting="备份文件正被其他程序使用，稍后重试替换：${bak}"
hold held_for_ever
WINEPATH=$tools_path run_autodump held_for_ever 1 127.0.0.1 root secret shop "$bak" held_for_ever 2
if wait_for 120 log_has held_for_ever '^备份(完毕|失败)'; then
  log_lines held_for_ever | grep -qxF "${waiting}held_for_ever.sql" || fail "held for ever: no waiting line"
  log_lines held_for_ever | grep -q '^备份失败，原备份文件保持不变，新备份无法保存：' ||
    fail "held for ever: $(reports held_for_ever)"
  [ "$(cat "$work/bak/held_for_ever.sql")" = "good dump" ] || fail "held for ever: the dump was changed"
else
  fail "held for ever: no backup reported: $(reports held_for_ever)"
fi
stop held_for_ever
hold held_a_while "$waiting"
WINEPATH=$tools_path run_autodump held_a_while 1 127.0.0.1 root secret shop "$bak" held_a_while 2
if wait_for 120 log_has held_a_while '^备份(完毕|失败)'; then
  log_lines held_a_while | grep -qxF "${waiting}held_a_while.sql" || fail "held a while: no waiting line"
  log_lines held_a_while | grep -q '^备份完毕' || fail "held a while: $(reports held_a_while)"
  grep -q secret "$work/bak/held_a_while.sql" || fail "held a while: the dump was not replaced"
else
  fail "held a while: no backup reported: $(reports held_a_while)"
fi
stop held_a_while

# A reader that shares the file's deletion does not keep it from being
# replaced: at once where the system renames by handle, once it lets go where not.
FILE_HOLDER_SHARES_DELETE=1 hold shares_delete "$waiting"
WINEPATH=$tools_path run_autodump shares_delete 1 127.0.0.1 root secret shop "$bak" shares_delete 2
if wait_for 120 log_has shares_delete '^备份(完毕|失败)'; then
  log_lines shares_delete | grep -q '^备份完毕' || fail "shares delete: $(reports shares_delete)"
  grep -q secret "$work/bak/shares_delete.sql" || fail "shares delete: the dump was not replaced"
else
  fail "shares delete: no backup reported: $(reports shares_delete)"
fi
stop shares_delete

# --- Chinese names on an English Windows ---------------------------------------

if wait_for 120 log_has missed '^备份'; then
  [ "$(log_lines missed | grep -m1 '^现在秒')" = 现在秒：0 ] ||
    fail "a missed backup: the first count is $(log_lines missed | grep -m1 '^现在秒')"
else
  fail "a missed backup: none made: $(reports missed)"
fi
stop missed

if wait_for 120 log_has english '^备份'; then
  log_lines english | grep -qxF "备份完毕，备份文件存放在${bak}目录下的备份.sql" ||
    fail "English Windows: $(reports english)"
  [ -f "$work/bak/备份.sql" ] || fail "English Windows: no 备份.sql but: $(ls "$work/bak")"
else
  fail "English Windows: no backup reported: $(reports english)"
fi
stop english

# --- typed values reach the tool exactly, two days running -------------------

if wait_for 120 log_has hostile '^备份' 2; then
  log_lines hostile | grep -q '^备份失败' && fail "two days: $(reports hostile)"
  cmp -s "$work/bak/$name.sql" "$work/expected" ||
    fail "the tool did not get the typed values: $(od -c "$work/bak/$name.sql" | head -20; od -c "$work/expected" | head -20)"
else
  fail "two days: not two backups: $(reports hostile)"
fi
stop hostile
# The option file exists only while the tool runs.
[ -s "$work/hostile.options" ] || fail "option file: the tool never got one"
while read -r path; do
  [ ! -e "$(winepath -u "$path")" ] || fail "option file: left after its run: $path"
done < "$work/hostile.options"

# --- a dump still running when the next is due is ended -----------------------

FAKE_DUMP_SLEEP=100000000 WINEPATH=$tools_path run_autodump overran 1 127.0.0.1 root secret shop "$bak" overran 2
if wait_for 120 log_has overran '^开始执行备份' 2; then
  log_lines overran | grep -A3 '^备份' | head -4 | sed 's/：2.*/：(time)/' > "$work/overran.tail"
  printf '%s\n' 备份失败，原备份文件保持不变，到下次备份时间仍未完成 '下次备份时间：(time)' 现在秒：0 \
    开始执行备份。。 | cmp -s - "$work/overran.tail" || fail "overran: $(cat "$work/overran.tail")"
  [ "$(cat "$work/bak/overran.sql")" = "good dump" ] || fail "overran: the last good dump was changed"
else
  fail "overran: the dump was not ended: $(reports overran)"
fi
# Ctrl-C, so that the second dump, stuck as well, is tidied up.
kill -INT $(autodump_pids overran) 2> /dev/null
for _ in $(seq 100); do [ -z "$(autodump_pids overran)" ] && break; sleep 0.1; done

# --- a run killed mid-dump leaves its option file to the next start ----------

FAKE_DUMP_SLEEP=100000000 FAKE_DUMP_OPTION_PATHS=$work/killed.options WINEPATH=$tools_path \
  run_autodump killed 1 127.0.0.1 root secret shop "$bak" killed 2
if wait_for 120 test -s "$work/bak/killed.sql.part"; then
  kill -KILL $(autodump_pids killed)
  leftover=$(winepath -u "$(tail -1 "$work/killed.options")")
  WINEPATH=$tools_path run_autodump after_kill 1 127.0.0.1 root secret shop "$bak" after_kill 2
  wait_for 120 log_has after_kill '^现在秒' || fail "after a kill: no count"
  [ ! -e "$leftover" ] || fail "after a kill: the next start did not remove $leftover"
  stop after_kill
else
  fail "killed: the dump never started: $(reports killed)"
fi
pgrep -f '^mysqldump ' | xargs -r kill -KILL
rm -f "$work/bak/killed.sql.part"

left=$(ls "$work/bak" | grep '\.part$')
[ -z "$left" ] || fail "temporary files are left: $left"

echo "Windows backup with a stand-in tool: $failures failed"
[ "$failures" -eq 0 ]
