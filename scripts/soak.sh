#!/usr/bin/env bash
# Ten simulated days of autodump against a private MariaDB server, a dump a
# day on a fast clock. After each day prints whether the dump succeeded and
# restores to the same data, and the program's resident memory and open
# descriptors, which must stay flat.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/install_missing.sh
ensure_packages cmake make g++ faketime procps
ensure_server_packages
. tests/harness.sh
autodump=$(build_program build-soak)

work=$(mktemp -d /tmp/autodump_soak.XXXXXX)
tidy_up_on_exit
cd "$work"
use_fast_clock
create_server
create_account soak soak
sql <<'SQL'
CREATE DATABASE shop CHARACTER SET utf8mb4;
CREATE DATABASE shop_copy CHARACTER SET utf8mb4;
USE shop;
CREATE TABLE orders (id INT PRIMARY KEY, note VARCHAR(100)) CHARACTER SET utf8mb4;
INSERT INTO orders SELECT seq, CONCAT('订单', seq) FROM seq_1_to_20000;
SQL
mkdir bak
answers answers soak soak shop "$work/bak" shop
own_descriptors_only "${fast_clock[@]}" "$autodump" < answers > log 2>&1 &
pid=$!
pids+=("$pid")

failed=0
for day in $(seq 10); do
  sql -e "INSERT INTO shop.orders VALUES ($((100000 + day)), '第${day}天')"
  wait_for 60 has_line log '^备份(完毕|失败)' "$day" || { echo "day $day: no backup reported"; exit 1; }
  # A copy at once: the next day's dump may replace the file while this one is checked.
  cp bak/shop.sql day.sql
  result=$(grep -E '^备份(完毕|失败)' log | sed -n "${day}p" | cut -c1-12)
  restores=no
  if sql shop_copy < day.sql &&
    [ "$(sql -N -e "SELECT COUNT(*) FROM shop_copy.orders WHERE id = $((100000 + day))")" = 1 ]; then
    restores=yes
  fi
  [ "$restores" = yes ] && [[ $result == 备份完毕* ]] || failed=$((failed + 1))
  printf 'day %2d: %s, restores: %s, resident memory %s kB, open descriptors %s\n' "$day" \
    "$result" "$restores" "$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")" \
    "$(ls "/proc/$pid/fd" | wc -l)"
done
echo "soak: $failed of 10 days failed"
[ "$failed" -eq 0 ]
