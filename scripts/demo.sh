#!/usr/bin/env bash
# autodump's first minute, with no database of one's own and no typing: a
# throwaway MariaDB server with a small sample database, the real program
# answered through a pipe on a fast clock (a day in about a second) until its
# first backup, and the proof that the dump restores. Leaves nothing behind.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/install_missing.sh
ensure_packages cmake make g++ faketime
ensure_server_packages
. tests/harness.sh
autodump=$(build_program build-demo)

work=$(mktemp -d /tmp/autodump_demo.XXXXXX)
tidy_up_on_exit
cd "$work"
use_fast_clock

create_server
echo "== 启动临时 MariaDB 服务器 / a throwaway server on 127.0.0.1:$MYSQL_TCP_PORT"
sql <<'SQL'
CREATE USER 'demo'@'127.0.0.1' IDENTIFIED BY 'demo-password';
GRANT SELECT, LOCK TABLES, SHOW VIEW ON demo_shop.* TO 'demo'@'127.0.0.1';
CREATE DATABASE demo_shop CHARACTER SET utf8mb4;
CREATE DATABASE demo_restored CHARACTER SET utf8mb4;
USE demo_shop;
CREATE TABLE customers (id INT PRIMARY KEY, name VARCHAR(50), city VARCHAR(50));
INSERT INTO customers VALUES (1, '张三', '北京'), (2, '李四', '上海'), (3, '王五', '广州');
CREATE TABLE products (id INT PRIMARY KEY, name VARCHAR(50), price DECIMAL(10, 2));
INSERT INTO products VALUES (1, '绿茶', 12.50), (2, '月饼', 38.00), (3, '筷子', 5.00);
CREATE TABLE orders (id INT PRIMARY KEY, customer INT, product INT, note VARCHAR(100));
INSERT INTO orders SELECT seq, seq % 3 + 1, seq % 3 + 1, CONCAT('第', seq, '号订单') FROM seq_1_to_1000;
SQL

mkdir backup
answers answers demo demo-password demo_shop "$work/backup" demo_shop
echo "== 运行 autodump / running autodump with the answers: $(tr '\n' ' ' < answers)"
echo "   演示的时钟被加快，约一秒一天，所以显示的倒计时和备份用时都很长。"
echo "   The demo's clock runs fast, a day in about a second: its countdown and dump times look long."
"${fast_clock[@]}" "$autodump" < answers > autodump.log 2>&1 &
pids+=($!)
wait_for 50 has_line autodump.log '^备份(完毕|失败)' || { echo "no backup within 50 s"; exit 1; }
kill "${pids[@]}"
wait "${pids[@]}" 2> /dev/null || true
pids=()

echo "== autodump 的最后几行 / the program's last lines"
grep -v '^现在秒' autodump.log | tail -4
grep '^现在秒' autodump.log | tail -3
grep -q '^备份完毕' autodump.log

echo "== 备份文件的开头 / the first lines of backup/demo_shop.sql"
head -25 backup/demo_shop.sql

echo "== 恢复并校验 / restoring the dump into another database"
sql demo_restored < backup/demo_shop.sql
for table in customers products orders; do
  original=$(sql -N -e "CHECKSUM TABLE demo_shop.$table" | cut -f2)
  restored=$(sql -N -e "CHECKSUM TABLE demo_restored.$table" | cut -f2)
  printf '%-10s %12s %12s\n' "$table" "$original" "$restored"
  [ "$original" = "$restored" ] || { echo "the restored $table differs"; exit 1; }
done
echo "== 校验和一致，备份可以恢复 / equal checksums: the dump restores"
