#!/usr/bin/env bash
# Installs the Debian package into Debian 12 booted with systemd as PID 1
# (systemd-nspawn, on a root file system made by mmdebstrap from Debian's
# mirror, with a private network that has only loopback) and runs the service
# as an operator would: enabled and started, a dump on a fast clock that lands
# private and restores, restarts that keep the schedule, a stop mid-dump,
# answers that end early, a failure and its reason in the journal, a
# reinstall, a purge. Needs root and about a gigabyte of disk; exits 77
# (skipped) where the container cannot be made or booted.
#
#   service_test.sh DEB
set -u
deb=$(realpath "$1")
. "$(dirname "$(realpath "$0")")/harness.sh"
failures=0

skip() {
  echo "SKIPPED: the service under systemd: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root"
command -v systemd-nspawn > /dev/null && command -v mmdebstrap > /dev/null ||
  skip "needs systemd-nspawn and mmdebstrap"

root=$(mktemp -d /var/tmp/autodump_service.XXXXXX)
nspawn=
container=
finish() {
  # Killing systemd-nspawn alone would leave the container running: its PID 1,
  # killed, takes every process of the container with it.
  local init=$container
  [ -n "$init" ] || [ -z "$nspawn" ] || init=$(pgrep -P "$nspawn" | head -1)
  if [ -n "$init" ]; then
    nsenter -t "$init" -a systemctl poweroff > /dev/null 2>&1
    wait_for 30 eval '! kill -0 "$nspawn" 2> /dev/null' || kill -KILL "$init" 2> /dev/null
  fi
  [ -z "$nspawn" ] || kill -KILL "$nspawn" 2> /dev/null
  wait 2> /dev/null
  rm -rf "$root"
}
trap finish EXIT

mmdebstrap --variant=important --include=systemd,systemd-sysv,dbus,mariadb-server,mariadb-client,faketime \
  bookworm "$root/fs" > "$root/mmdebstrap.log" 2>&1 ||
  skip "mmdebstrap could not make a root file system: $(tail -3 "$root/mmdebstrap.log")"
cp "$deb" "$root/fs/root/autodump.deb"
systemd-nspawn -D "$root/fs" -b --register=no --keep-unit --private-network -q \
  > "$root/boot.log" 2>&1 &
nspawn=$!
wait_for 60 eval 'container=$(pgrep -P "$nspawn" -x systemd)' || skip "systemd-nspawn did not boot"
in_container() { nsenter -t "$container" -a "$@"; }
# Until its start-up is done; "degraded" is done too, with a unit failed.
booted() { in_container systemctl is-system-running 2> /dev/null | grep -qxE 'running|degraded'; }
wait_for 120 booted || skip "systemd in the container did not finish starting: $(tail -3 "$root/boot.log")"
in_container systemctl is-active -q mariadb || skip "MariaDB did not start in the container"

# journal [OPTION...]: the service's messages, one a line.
journal() { in_container journalctl -u autodump -o cat --no-pager "$@"; }
# journal_has REGEX [COUNT]: whether COUNT messages (one unless told) match.
journal_has() { [ "$(journal | grep -cE "$1")" -ge "${2:-1}" ]; }
# write_answers ANSWER...: the answers the service reads, root's alone.
write_answers() {
  printf '%s\n' "$@" | in_container sh -c 'umask 077; cat > /etc/autodump/answers'
}
# restart_and_wait REGEX [COUNT]: restarts the service, then waits until the
# journal holds COUNT more messages matching REGEX than it did.
restart_and_wait() {
  local before
  before=$(journal | grep -cE "$1")
  in_container systemctl restart autodump
  wait_for 60 journal_has "$1" $((before + ${2:-1}))
}
dump=/var/backups/autodump/shop.sql
good=(1 localhost backup 'S3cret#pw' shop /var/backups/autodump/ shop 2)

in_container mariadb <<'SQL'
CREATE DATABASE shop CHARACTER SET utf8mb4;
CREATE TABLE shop.orders (id INT PRIMARY KEY, note VARCHAR(20));
INSERT INTO shop.orders VALUES (1, '订单'), (2, 'second');
CREATE DATABASE shop_copy CHARACTER SET utf8mb4;
CREATE USER 'backup'@'localhost' IDENTIFIED BY 'S3cret#pw';
GRANT SELECT, LOCK TABLES, SHOW VIEW, TRIGGER ON shop.* TO 'backup'@'localhost';
SQL
in_container env DEBIAN_FRONTEND=noninteractive apt-get install -y -q /root/autodump.deb \
  > "$root/install.log" 2>&1 || fail "the package does not install: $(tail -5 "$root/install.log")"

# --- enabled and started: the check passes, the journal keeps events only ---

write_answers "${good[@]}"
in_container systemctl enable --now autodump 2> /dev/null
wait_for 60 journal_has '^下次备份时间' || fail "no next backup time: $(journal | tail -5)"
in_container systemctl is-active -q autodump || fail "the service is not running"
[ -z "$(journal -p warning)" ] || fail "warnings where all is in order: $(journal -p warning)"
journal_has '^现在秒' && fail "the countdown is in the journal"
journal_has 'S3cret' && fail "the password is in the journal"
in_container journalctl -u autodump -o json --no-pager | python3 -c '
import json, sys
levels = {json.loads(line).get("MESSAGE", "")[:6]: json.loads(line).get("PRIORITY") for line in sys.stdin}
sys.exit(levels.get("下次备份时间") != "6")' || fail "the next backup time is not at level info"
exposure=$(in_container systemd-analyze security autodump 2> /dev/null |
  sed -n 's/.*Overall exposure level for .*: \([0-9.]*\).*/\1/p')
awk -v e="${exposure:-99}" 'BEGIN {exit !(e <= 2.0)}' || fail "the live unit's exposure is ${exposure:-unknown}"

# --- a dump on a fast clock: private, and it restores ------------------------

in_container mkdir -p /etc/systemd/system/autodump.service.d
in_container sh -c 'cat > /etc/systemd/system/autodump.service.d/fast.conf' <<'CONF'
[Service]
Environment=LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1 "FAKETIME=+0 x8640"
Environment=FAKETIME_DISABLE_SHM=1 FAKETIME_START_AFTER_SECONDS=3
CONF
in_container systemctl daemon-reload
restart_and_wait '^备份(完毕|失败)' || fail "no backup on the fast clock"
journal_has '^备份完毕' || fail "the backup failed: $(journal -p warning | tail -5)"
[ "$(in_container stat -c %U:%a "$dump")" = autodump:600 ] ||
  fail "the dump is $(in_container stat -c %U:%a "$dump")"
in_container sh -c "mariadb shop_copy < $dump" || fail "the dump does not restore"
[ "$(in_container mariadb -N -e 'SELECT note FROM shop_copy.orders ORDER BY id')" = $'订单\nsecond' ] ||
  fail "the restored data differ"

# --- stopped mid-dump: the last dump stays, no temporary file ---------------

in_container cp -p "$dump" /root/last_good.sql
in_container mariadb -e 'LOCK TABLES shop.orders WRITE; SELECT SLEEP(60)' > /dev/null 2>&1 &
locker=$!
in_container systemctl restart autodump
if wait_for 60 in_container test -e "$dump.part"; then
  in_container systemctl stop autodump
  in_container test -e "$dump.part" && fail "stopped mid-dump: a temporary file is left"
  in_container cmp -s "$dump" /root/last_good.sql || fail "stopped mid-dump: the last dump was changed"
else
  fail "the held dump never started"
fi
kill "$locker" 2> /dev/null
in_container mariadb -e 'KILL USER root' 2> /dev/null

# --- a restart keeps the schedule -------------------------------------------

in_container rm /etc/systemd/system/autodump.service.d/fast.conf
in_container systemctl daemon-reload
written=$(in_container stat -c %Y "$dump")
for round in 1 2; do
  restart_and_wait '^下次备份时间' || fail "restart $round: no next backup time"
  said=$(journal | sed -n 's/^下次备份时间：//p' | tail -1)
  due=$(in_container date -d "$said" +%s)
  [ $((due - written - 86400)) -ge -1 ] && [ $((due - written - 86400)) -le 1 ] ||
    fail "restart $round: the next backup at $said, not a day after the dump"
done

# --- answers that end early leave a failed unit ------------------------------

write_answers "${good[@]:0:7}"
in_container systemctl restart autodump
wait_for 60 eval '[ "$(in_container systemctl is-failed autodump)" = failed ]' ||
  fail "answers without the final 2: the unit is $(in_container systemctl is-failed autodump)"
journal -p err | grep -q '^输入已结束，程序退出' || fail "the end of input is not an error"
in_container systemctl reset-failed autodump

# --- a failure and its reason under -p warning --------------------------------

wrong=("${good[@]}")
wrong[3]=wrong-password
write_answers "${wrong[@]}"
restart_and_wait '^警告：用当前设置连接数据库失败' || fail "a wrong password: no warning"
journal -p warning | grep -q 'Access denied' || fail "the tool's reason is not a warning: $(journal -p warning)"

# A folder the unit does not let it write: the warning gives the reason.
in_container install -d -o autodump -g autodump /srv/dumps
elsewhere=("${good[@]}")
elsewhere[5]=/srv/dumps/
write_answers "${elsewhere[@]}"
restart_and_wait '^警告：保存目录' || fail "a folder outside the unit's: no warning"
journal_has '^警告：保存目录不存在或无法写入：/srv/dumps/: Read-only file system$' ||
  fail "a folder outside the unit's: $(journal | grep '^警告：保存目录' | tail -1)"

# --- a reinstall restarts the service; a purge leaves no link -----------------

write_answers "${good[@]}"
restart_and_wait '^下次备份时间' || fail "no start with good answers"
before=$(in_container systemctl show -p MainPID --value autodump)
in_container env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --reinstall /root/autodump.deb \
  > "$root/reinstall.log" 2>&1 || fail "the package does not reinstall"
after=$(in_container systemctl show -p MainPID --value autodump)
[ "$after" != 0 ] && [ "$after" != "$before" ] || fail "a reinstall did not restart the service ($before, $after)"
in_container env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q autodump > "$root/purge.log" 2>&1
in_container test -L /etc/systemd/system/multi-user.target.wants/autodump.service &&
  fail "purging left the service enabled"
in_container systemctl is-active -q autodump && fail "purging left the service running"

echo "the service under systemd: $failures failed"
[ "$failures" -eq 0 ]
