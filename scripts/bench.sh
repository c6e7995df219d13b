#!/usr/bin/env bash
# Prints what autodump costs: its dump time against the bare dump tool's, its
# system calls per counting tick, its memory and descriptors, its start-up
# time and the drift of its one-second cadence. Figures, not a test: each
# comparison is measured side by side in one run, as this machine is shared.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/install_missing.sh
ensure_packages cmake make g++ faketime strace procps python3
ensure_server_packages
. tests/harness.sh
autodump=$(build_program build-bench)

work=$(mktemp -d /tmp/autodump_bench.XXXXXX)
# Everything started in the background is stopped by its process id.
tidy_up_on_exit
cd "$work"
# A day in ten seconds: time enough for the big dump before the next is due.
use_fast_clock 8640

calc() { awk "BEGIN {print $*}"; }
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# stamped: each line that is not a progress line, after the time it arrived.
stamped() { grep --line-buffered -v '^现在秒' | while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done; }

echo "autodump benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -sr)"
create_server

# --- the dump: through autodump against the bare tool ---------------------------

rows=250000
create_account bench Bench-pw-7
sql <<SQL
CREATE DATABASE bench CHARACTER SET utf8mb4;
USE bench;
CREATE TABLE padded (id INT PRIMARY KEY, pad VARCHAR(300)) CHARACTER SET utf8mb4;
INSERT INTO padded SELECT seq, REPEAT('数据', 100) FROM seq_1_to_$rows;
SQL
mkdir bak
answers answers bench Bench-pw-7 bench "$work/bak" bench

# bare: mysqldump writing straight into a file, flushed to disk.
bare() {
  local start=$EPOCHREALTIME
  "${fast_clock[@]}" mysqldump -h127.0.0.1 -ubench -pBench-pw-7 bench > bak/bare.sql
  sync bak/bare.sql
  calc "$EPOCHREALTIME - $start"
}
# through: from autodump's start line to its completion line, on the same clock.
through() {
  : > stamps
  "${fast_clock[@]}" "$autodump" < answers > >(stamped > stamps) &
  local pid=$!
  wait_for 120 has_line stamps '备份完毕' || { echo "no dump within 120 s" >&2; kill "$pid"; exit 1; }
  kill "$pid"
  wait "$pid" 2> /dev/null || true
  local start end
  start=$(grep '开始执行备份' stamps | cut -d' ' -f1)
  end=$(grep '备份完毕' stamps | cut -d' ' -f1)
  calc "$end - $start"
}
: > ratios
for round in 1 2 3 4 5; do
  b=$(bare)
  t=$(through)
  calc "$t / $b" >> ratios
  printf '  round %d: bare %.2f s, through autodump %.2f s\n' "$round" "$b" "$t"
done
printf 'dump of %d MB: through autodump / bare tool, median of 5: %.3f\n' \
  $(($(stat -c %s bak/bench.sql) / 1000000)) "$(median < ratios)"

# --- the password in the process list ----------------------------------------

# How long the password shows in any process's arguments (it should never:
# the tool gets it in an option file), per start of the
# tool: a poller reads every /proc/*/cmdline over and over while autodump is
# started twelve times on the real clock, each running the tool at once for
# its check of the connection, with the same command line as a dump's. (On the
# fast clock the program's waiting turns into polling without a pause, which
# takes the tool's processor and lengthens the figure.) It is from first to
# last sighting, so it errs short by up to one pass, whose length is printed.
sql -e "CREATE DATABASE tiny; CREATE TABLE tiny.t (v INT); INSERT INTO tiny.t VALUES (1)"
answers tiny_answers bench Bench-pw-7 tiny "$work/bak" tiny
starts=12
(
  sleep 0.5
  for _ in $(seq $starts); do
    "$autodump" < tiny_answers > /dev/null 2>&1 &
    sleep 0.8
    kill $!
    wait $! 2> /dev/null || true
  done
) &
pids+=($!)
# The password through the environment: the poller's own arguments would show it.
SECRET=Bench-pw-7 python3 - $((starts + 1)) > sightings <<'PY'
import os, sys, time
secret, seconds = os.environ['SECRET'].encode(), float(sys.argv[1])
seen, passes, end = {}, 0, time.monotonic() + seconds
while time.monotonic() < end:
    passes += 1
    for pid in filter(str.isdigit, os.listdir('/proc')):
        try:
            with open('/proc/%s/cmdline' % pid, 'rb') as f:
                arguments = f.read()
        except OSError:
            continue
        if secret in arguments:
            now = time.monotonic()
            seen.setdefault(pid, [now, now])[1] = now
print(seconds * 1000 / passes)
for first, last in seen.values():
    print((last - first) * 1000)
PY
wait "${pids[-1]}" || true
printf 'password in the process list: %d starts, seen in %d processes, median %.1f ms, longest %.1f ms (one pass %.2f ms)\n' \
  "$starts" "$(($(wc -l < sightings) - 1))" "$(tail -n +2 sightings | median)" \
  "$(tail -n +2 sightings | sort -g | tail -1)" "$(head -1 sightings)"

# --- counting ----------------------------------------------------------------

printf '2\n' > start_answers
ticks=20000
strace_fast=(strace -f -c -E "${fast_clock[1]}" -E "${fast_clock[2]}")
"${strace_fast[@]}" -o strace_start "$autodump" 2> /dev/null \
  < <(printf '3\n') > /dev/null
"${strace_fast[@]}" -o strace_count "$autodump" 2> /dev/null \
  < start_answers > count_out &
tracer=$!
pids+=("$tracer")
wait_for 600 has_line count_out '^现在秒' "$ticks"
kill "$(pgrep -P "$tracer")"
wait "$tracer" 2> /dev/null || true
counted=$(grep -c '^现在秒' count_out)
calls() { awk '$NF == "total" {print $4}' "$1"; }
printf 'system calls per counting tick (strace, %d ticks): %.2f\n' "$counted" \
  "$(calc "($(calls strace_count) - $(calls strace_start)) / $counted")"

# On the real clock (the fast one loads a library of its own), and with no
# descriptor inherited but the three standard ones.
own_descriptors_only "$autodump" < start_answers > /dev/null 2> /dev/null &
pid=$!
pids+=("$pid")
sleep 2.5
echo "peak resident memory while counting: $(awk '/VmHWM/ {print $2, $3}' "/proc/$pid/status")," \
  "open descriptors: $(ls "/proc/$pid/fd" | wc -l)"
kill "$pid"

: > starts
for _ in $(seq 20); do
  start=$EPOCHREALTIME
  printf '3\n' | "$autodump" > /dev/null
  calc "($EPOCHREALTIME - $start) * 1000" >> starts
done
printf 'start to menu and exit, median of 20: %.1f ms\n' "$(median < starts)"

# --- the cadence on the real clock --------------------------------------------

# drift: how much longer than 20 s the 20 ticks after the first one took.
drift() {
  : > drift_stamps
  "$@" "$autodump" < start_answers > >(grep --line-buffered '^现在秒' |
    while IFS= read -r line; do echo "$EPOCHREALTIME"; done > drift_stamps) &
  local pid=$!
  until [ "$(wc -l < drift_stamps)" -ge 21 ]; do sleep 0.5; done
  kill "$pid"
  wait "$pid" 2> /dev/null || true
  calc "($(sed -n 21p drift_stamps) - $(head -1 drift_stamps) - 20) * 1000"
}
printf 'drift over 20 ticks, idle: %.1f ms\n' "$(drift)"
for _ in $(seq "$(nproc)"); do
  while :; do :; done &
  pids+=($!)
done
printf 'drift over 20 ticks, under load (nice 19, a busy loop per core): %.1f ms\n' \
  "$(drift nice -n 19)"
