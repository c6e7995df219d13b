#!/usr/bin/env bash
# Runs the real executable with piped input and compares what it prints, byte
# for byte, with the dialogue the operator must see. A Windows program (.exe)
# runs under wine and must print the same dialogue in GBK, each line ended by
# CR LF, as a Windows console program does.
set -u
autodump=$1
failures=0
. "$(dirname "$(realpath "$0")")/harness.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case $autodump in
  *.exe)
    windows=1
    run=("$(command -v wine)" "$autodump")
    # A server kept up for the whole suite; the first program on it starts
    # wine's services, which would hold a captured run's output open.
    wineserver -p30 2> /dev/null
    wine "$autodump" < /dev/null > /dev/null 2>&1
    # The system's words for a folder that is not there.
    missing_folder='File not found.'
    ;;
  *)
    windows=
    run=("$autodump")
    missing_folder='No such file or directory'
    ;;
esac

menu='============mysql自动备份程序===============
============1 设置数据库信息===============
============2 启动自动备份===============
============3 退出程序===============
============4 设置备份时长，单位：天，默认是1天，就是每天备份一次===============
'
prompt='请输入以上对应的数字开始使用
'
question='输入一个整数天数，不支持小数，也就是说最低就是1天一备份
'
refused='天数必须是1到24855之间的整数，请重新输入
'
ended='输入已结束，程序退出
'
settings_prompts='请输入服务器地址
请输入数据库账号
请输入数据库密码
请输入数据库名
请输入要保存的盘符，比如：D:/bak/ 结尾要带上斜杠
请输入要保存的文件名，比如：test 这里只输入名字不要加后缀
'
# summary SERVER USER DATABASE DIRECTORY NAME: the settings echoed through a
# pipe, the password masked.
summary() {
  printf '当前数据库配置是：\n服务器地址：%s\n数据库用户名：%s\n数据库密码：********\n数据库名：%s\n保存的盘符：%s\n保存的文件名：%s\n' "$@"
}

# expect NAME INPUT STATUS OUTPUT [LOCALE]
expect() {
  local name=$1 input=$2 status=$3 output=$4 locale=${5:-C.UTF-8}
  # What is typed comes in the console's encoding too.
  if [ -n "$windows" ] && [ "$locale" != zh_CN.GBK ]; then
    input=$(printf '%s' "$input" | iconv -f UTF-8 -t GBK; printf x)
    input=${input%x}
  fi
  # A byte that no shell variable can hold (NUL) comes from `input_file`.
  [ -n "${input_file:-}" ] || printf '%s' "$input" > "$work/in"
  LC_ALL=$locale timeout "${limit:-10}" env PATH="${path:-$PATH}" "${run[@]}" \
    < "${input_file:-$work/in}" > "$work/out" 2>&1
  local got=$?
  if [ -n "$windows" ]; then
    printf '%s' "$output" | iconv -f UTF-8 -t GBK | sed 's/$/\r/' > "$work/expected"
  elif [ "$locale" = zh_CN.GBK ]; then
    printf '%s' "$output" | iconv -f UTF-8 -t GBK > "$work/expected"
  else
    printf '%s' "$output" > "$work/expected"
  fi
  # The times it names change from run to run.
  LC_ALL=C sed -Ei 's/[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}/YYYY-MM-DD HH:MM:SS/g' "$work/out"
  if [ -n "${cut:-}" ]; then
    head -c "$(stat -c %s "$work/expected")" "$work/out" > "$work/cut"
    mv "$work/cut" "$work/out"
  fi
  if [ "$got" != "$status" ] || ! cmp -s "$work/out" "$work/expected"; then
    fail "$name (exit status $got, expected $status)"
    diff <(od -c "$work/expected") <(od -c "$work/out") | head -20
  else
    echo "ok: $name"
  fi
}

expect "choice 3 ends at once" $'3\n1\n' 0 "$menu$prompt"
expect "other numbers and words ask again" $'0\n5\n-1\nabc\n2x\n99999999999\n3\n' 0 \
  "$menu$prompt$prompt$prompt$prompt$prompt$prompt$prompt"
expect "empty lines print nothing" $'\n\n  \n3\n' 0 "$menu$prompt"
expect "typed-ahead interval" $'4 3\n3\n' 0 "$menu$prompt$question设置完毕
$menu$prompt"
expect "interval refused until in range" $'4\n0\nx\n24856\n1.5\n24855\n3\n' 0 \
  "$menu$prompt$question$refused$question$refused$question$refused$question$refused$question设置完毕
$menu$prompt"
expect "six answers on one line, then a choice" \
  $'1 127.0.0.1 root p$a&s!\'"`w 数据库 D:/bak test 3\n' 0 \
  "$menu$prompt$settings_prompts$(summary 127.0.0.1 root 数据库 D:/bak test)
$menu$prompt"
expect "second settings run replaces all six" $'1\na\nb\nc\nd\ne\nf\n1 g h i j k l\n3' 0 \
  "$menu$prompt${settings_prompts}$(summary a b d e f)
$menu$prompt${settings_prompts}$(summary g h j k l)
$menu$prompt"
expect "end of input at the menu" '' 1 "$menu$prompt$ended"
expect "end of input at the interval question" $'4\nabc\n' 1 "$menu$prompt$question$refused$question$ended"
expect "end of input inside the settings dialogue" $'1 host user pass' 1 \
  "$menu$prompt请输入服务器地址
请输入数据库账号
请输入数据库密码
请输入数据库名
$ended"

# expect_start NAME INPUT OUTPUT: as expect, for a run that starts the automatic
# backup with no dump tool on PATH. It is stopped after two seconds of counting,
# and compared up to its first progress line.
expect_start() {
  limit=2 cut=1 path=/nonexistent expect "$1" "$2" 124 "$3
下次备份时间：YYYY-MM-DD HH:MM:SS
现在秒：86399
"
}
no_tool='警告：找不到mysqldump，请先安装MySQL客户端工具'
expect_start "backup started before the settings" $'2\n' "$menu$prompt警告：尚未设置数据库名，请先选择菜单1
$no_tool"
# Whatever came before the first tick, the second comes a second after it.
limit=5 cut=1 path=/nonexistent expect "the count falls by one from its first tick" $'2\n' 124 \
  "$menu$prompt警告：尚未设置数据库名，请先选择菜单1
$no_tool
下次备份时间：YYYY-MM-DD HH:MM:SS
现在秒：86399
现在秒：86398
"
expect_start "backup to a missing directory without a slash" $'1 h u p d /nonexistent/dir name 2\n' \
  "$menu$prompt$settings_prompts$(summary h u d /nonexistent/dir name)
$menu$prompt警告：保存目录不存在或无法写入：/nonexistent/: $missing_folder
警告：保存目录没有以斜杠结尾，备份文件将保存为：/nonexistent/dirname.sql
$no_tool"
# A folder that exists, and a name that runs on from the typed directory.
expect_start "backup to an existing folder without a slash" "1 h u p d $work/ro shop 2
" "$menu$prompt$settings_prompts$(summary h u d "$work/ro" shop)
$menu$prompt警告：保存目录没有以斜杠结尾，备份文件将保存为：$work/roshop.sql
$no_tool"
mkdir "$work/taken.sql"
long=$(head -c 200000 /dev/zero | tr '\0' x)
# The password goes into an option file, whatever its length; a server
# address goes on the command line.
expect_start "a directory at the dump file's place, a server address too long to pass" \
  "1 $long u p d $work/ taken 2
" "$menu$prompt$settings_prompts$(summary "$long" u d "$work/" taken)
$menu$prompt警告：备份文件的位置已有一个目录：$work/taken.sql
$no_tool
警告：设置的内容太长，无法启动mysqldump"
printf '1 h u p\0ss d %s/ f 2\n' "$work" > "$work/nul"
input_file=$work/nul expect_start "a NUL byte in a value" '' "$menu$prompt$settings_prompts$(summary h u d "$work/" f)
$menu$prompt警告：输入的内容含有系统无法接受的字符：数据库密码
$no_tool"
expect "a word past 1 MiB ends the input" "$(head -c 1048577 /dev/zero | tr '\0' x)" 1 \
  "$menu$prompt输入的内容过长，程序退出
"

# On a terminal the operator watches, the password is shown as typed.
if [ -z "$windows" ]; then
  printf '1 h u p@ss d /tmp/ f 3\n' | timeout 10 script -qec "$autodump" /dev/null > "$work/out" 2>&1
  if grep -qa '^数据库密码：p@ss' "$work/out"; then
    echo "ok: the password on a terminal"
  else
    fail "the password on a terminal: $(grep -a '数据库密码：' "$work/out")"
  fi
fi

# Into systemd's journal (JOURNAL_STREAM names standard output), each line
# begins with its level; into any other file, none does.
if [ -z "$windows" ]; then
  for where in journal file; do
    : > "$work/$where"
    stream=$(stat -c '%d:%i' "$work/$where")
    [ $where = file ] && stream=0:0
    printf '2\n' | JOURNAL_STREAM=$stream timeout 2 env PATH=/nonexistent "$autodump" > "$work/$where"
  done
  LC_ALL=C sed -Ei 's/[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}/(time)/' "$work/journal"
  { printf '%s' "$menu$prompt" | sed 's/^/<6>/'
    printf '%s\n' '<4>警告：尚未设置数据库名，请先选择菜单1' "<4>$no_tool" '<6>下次备份时间：(time)' \
      '<7>现在秒：86399'; } > "$work/expected"
  if cmp -s <(head -10 "$work/journal") "$work/expected" && ! grep -q '^<' "$work/file"; then
    echo "ok: levels into the journal, none elsewhere"
  else
    fail "journal levels: $(head -c 600 "$work/journal")"
  fi
fi

if locale -a 2>/dev/null | grep -qix 'zh_CN.gbk'; then
  expect "GBK console gets GBK bytes" $'9\n3\n' 0 "$menu$prompt$prompt" zh_CN.GBK
  expect "GBK answers are kept byte for byte" "1 h u p $(printf '库' | iconv -t GBK) d f" 1 \
    "$menu$prompt$settings_prompts$(summary h u 库 d f)
$menu$prompt$ended" zh_CN.GBK
else
  fail "locale zh_CN.GBK is missing (the test command sets it up)"
fi

echo "dialogue: $failures failed"
[ "$failures" -eq 0 ]
