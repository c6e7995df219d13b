# Sourced by the end-to-end tests and by the scripts that measure or show the
# program: a MariaDB server of their own in "$work" (which the caller makes and
# removes), on 127.0.0.1 and the first free port from 34306, with a socket of
# its own; and the fast clock the program runs on there.
# Exports MYSQL_TCP_PORT, so that the client tools reach the server by default.

# A command prefix: a day passes in a second, or in 86400 / fast_clock_speed
# seconds where the caller sets that: the time a dump has before the next one
# is due. It replaces itself with the command, so that the command's process is
# the one started.
fast_clock=(env "LD_PRELOAD=$(ls /usr/lib/*/faketime/libfaketime.so.1 | head -1)"
            "FAKETIME=+0 x${fast_clock_speed:-86400}")

PATH=$PATH:/usr/sbin
if [ "$(id -u)" -eq 0 ]; then run_as=root; else run_as=$(id -un); fi
export MYSQL_TCP_PORT
for MYSQL_TCP_PORT in $(seq 34306 34406); do
  (exec 3<> "/dev/tcp/127.0.0.1/$MYSQL_TCP_PORT") 2> /dev/null || break
done
server_pid=

# own_descriptors_only COMMAND... &: runs COMMAND in the background with no
# descriptor inherited but the three standard ones, so that those it holds can
# be counted; $! is then its process id. Only ever in the background: it
# replaces the shell that runs it.
own_descriptors_only() {
  for fd in $(ls "/proc/$BASHPID/fd"); do [ "$fd" -le 2 ] || eval "exec $fd>&-"; done
  exec "$@"
}

# sql ARG...: the client as the server's root, through its socket.
sql() { mariadb --no-defaults --default-character-set=utf8mb4 -S "$work/server.sock" -uroot "$@"; }

start_server() {
  mariadbd --no-defaults --datadir="$work/data" --socket="$work/server.sock" \
    --port="$MYSQL_TCP_PORT" --bind-address=127.0.0.1 --user="$run_as" --skip-log-bin \
    --innodb-buffer-pool-size=256M --log-error="$work/server.log" --pid-file="$work/server.pid" \
    2>> "$work/server.log" &
  server_pid=$!
  for _ in $(seq 300); do
    sql -e 'SELECT 1' > /dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "the private server did not start:"; tail -20 "$work/server.log"
  exit 1
}

# stop_server [SIGNAL]: stops it (with TERM unless told), and waits for it.
stop_server() {
  [ -n "$server_pid" ] || return 0
  kill "${1:--TERM}" "$server_pid" 2> /dev/null
  wait "$server_pid" 2> /dev/null
  server_pid=
}

# create_server: a new, empty server, started.
create_server() {
  mariadb-install-db --no-defaults --datadir="$work/data" --user="$run_as" \
    --auth-root-authentication-method=normal --skip-test-db > "$work/install.log" 2>&1 ||
    { cat "$work/install.log"; exit 1; }
  start_server
}
