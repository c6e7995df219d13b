# Sourced by the end-to-end tests (tests/*.sh) and by the scripts that show or
# measure the program (scripts/demo.sh, bench.sh, soak.sh). It only defines
# functions; nothing happens until one is called.
#
# A caller sets `work` to a folder of its own before it uses the server
# functions: the server's data, socket and logs live there, unless
# `server_dir` names the folder of a server shared by the tests of one run.

# fail MESSAGE: reports a failed check and counts it in `failures`.
fail() {
  echo "FAIL: $*"
  failures=$((${failures:-0} + 1))
}

# wait_for SECONDS COMMAND...: true as soon as COMMAND succeeds, tried every
# 50 ms; false once SECONDS have gone by without.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.05
  done
}

# has_line FILE REGEX [COUNT]: whether at least COUNT lines (one unless told)
# of FILE match REGEX.
has_line() { [ "$(grep -cE "$2" "$1" 2> /dev/null)" -ge "${3:-1}" ]; }

# use_fast_clock [SPEED]: sets the array `fast_clock` to a command prefix under
# which a day passes in 86400 / SPEED seconds (a second by default). It
# replaces itself with the command, so that the command's process is the one
# started.
use_fast_clock() {
  # Without its shared memory, which another account cannot use and which
  # would take a closed standard descriptor's number; and preloaded before the
  # AddressSanitizer runtime of the sanitizers' build, which is told so.
  fast_clock=(env "LD_PRELOAD=$(ls /usr/lib/*/faketime/libfaketime.so.1 | head -1)"
              "FAKETIME=+0 x${1:-86400}" FAKETIME_DISABLE_SHM=1
              "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
}

# own_descriptors_only COMMAND... &: runs COMMAND in the background with no
# descriptor inherited but the three standard ones, so that those it holds can
# be counted; $! is then its process id. Only ever in the background: it
# replaces the shell that runs it.
own_descriptors_only() {
  for fd in $(ls "/proc/$BASHPID/fd"); do [ "$fd" -le 2 ] || eval "exec $fd>&-"; done
  exec "$@"
}

# build_program FOLDER: builds the program without its tests into FOLDER (never
# build/, which the tests run from) and prints the program's path.
build_program() {
  cmake -S . -B "$1" -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$1" -j"$(nproc)" > /dev/null
  echo "$PWD/$1/autodump"
}

# tidy_up_on_exit: when the script ends, however it ends, stops the processes
# in the array `pids` and the server, and removes `work`. A second Ctrl-C
# while that runs does not cut it short.
tidy_up_on_exit() {
  pids=()
  trap '_tidy_up' EXIT
}
_tidy_up() {
  trap '' INT TERM
  [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2> /dev/null
  stop_server
  cd /
  [ -z "${work:-}" ] || [ -n "${KEEP:-}" ] || rm -rf "$work"
}

# The server's folder: its data, socket and logs. The caller's `work` unless
# `server_dir` names another (a server shared by the tests of one run).
_server() { echo "${server_dir:-$work}"; }

# sql ARG...: the client as the server's root, through its socket.
sql() { mariadb --no-defaults --default-character-set=utf8mb4 -S "$(_server)/server.sock" -uroot "$@"; }

# create_server: a new, empty MariaDB server of the caller's own in its folder,
# on 127.0.0.1 and the first free port from 34306, started. Exports
# MYSQL_TCP_PORT, so that the client tools reach it by default. A port another
# server takes meanwhile (another test, another run) means the next one.
create_server() {
  PATH=$PATH:/usr/sbin
  if [ "$(id -u)" -eq 0 ]; then server_user=root; else server_user=$(id -un); fi
  mariadb-install-db --no-defaults --datadir="$(_server)/data" --user="$server_user" \
    --auth-root-authentication-method=normal --skip-test-db > "$(_server)/install.log" 2>&1 ||
    { cat "$(_server)/install.log"; exit 1; }
  export MYSQL_TCP_PORT
  for MYSQL_TCP_PORT in $(seq 34306 34406); do
    (exec 3<> "/dev/tcp/127.0.0.1/$MYSQL_TCP_PORT") 2> /dev/null && continue
    start_server && return 0
    grep -q 'Do you already have another server running' "$(_server)/server.log" || break
  done
  echo "the private server did not start:"; tail -20 "$(_server)/server.log"
  exit 1
}

# start_server: starts the server that create_server made, and waits for it;
# false where it did not start.
start_server() {
  : > "$(_server)/server.log"
  mariadbd --no-defaults --datadir="$(_server)/data" --socket="$(_server)/server.sock" \
    --port="$MYSQL_TCP_PORT" --bind-address=127.0.0.1 --user="$server_user" --skip-log-bin \
    --innodb-buffer-pool-size=256M --log-error="$(_server)/server.log" \
    --pid-file="$(_server)/server.pid" ${server_options[@]+"${server_options[@]}"} \
    < /dev/null > /dev/null 2>> "$(_server)/server.log" &
  server_pid=$!
  wait_for 30 eval 'kill -0 $server_pid 2> /dev/null && sql -e "SELECT 1" > /dev/null 2>&1' && return 0
  kill -KILL "$server_pid" 2> /dev/null
  wait "$server_pid" 2> /dev/null
  server_pid=
  return 1
}

# stop_server [SIGNAL]: stops it (with TERM unless told), and waits for it.
stop_server() {
  [ -n "${server_pid:-}" ] || return 0
  kill "${1:--TERM}" "$server_pid" 2> /dev/null
  wait "$server_pid" 2> /dev/null
  server_pid=
}

# create_account USER PASSWORD: an account on 127.0.0.1 that may do anything.
create_account() {
  sql -e "CREATE USER '$1'@'127.0.0.1' IDENTIFIED BY '$2'; GRANT ALL ON *.* TO '$1'@'127.0.0.1'"
}

# answers FILE USER PASSWORD DATABASE FOLDER NAME: writes to FILE what an
# operator types to back DATABASE up each day into FOLDER/NAME.sql, through
# that account on 127.0.0.1, and to start the automatic backup.
answers() {
  printf '%s\n' 1 127.0.0.1 "$2" "$3" "$4" "$5/" "$6" 2 > "$1"
}
