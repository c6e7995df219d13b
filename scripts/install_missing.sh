# Sourced by the scripts that install what they need (start.sh, demo.sh,
# bench.sh, soak.sh, package.sh and test.sh): functions that install missing
# Debian packages and the GBK locale. Defines functions only.

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# ensure_packages NAME...: installs those of NAME that are not installed yet.
ensure_packages() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
}

# ensure_gbk_locale: the Chinese GBK locale that the console tests run under.
ensure_gbk_locale() {
  locale -a 2>/dev/null | grep -qix 'zh_CN.gbk' || as_root localedef -i zh_CN -f GBK zh_CN.GBK
}

# ensure_dump_client: MariaDB's client tools, only where neither mysqldump nor
# mariadb-dump can be found: another vendor's client packages (Oracle MySQL's)
# conflict with them, and installing would remove those.
ensure_dump_client() {
  command -v mysqldump > /dev/null || command -v mariadb-dump > /dev/null ||
    ensure_packages mariadb-client
}

# ensure_server_packages: MariaDB's server, for a throwaway server of the
# caller's own. Installing it starts and enables the system's server on port
# 3306: one that this installation started is stopped and disabled again.
ensure_server_packages() {
  dpkg-query -W -f='${Status}' mariadb-server 2> /dev/null | grep -q 'install ok installed' &&
    return 0
  echo "Installing mariadb-server and mariadb-client for a throwaway server of this script's own;"
  echo "the system server that Debian's installation starts is stopped and disabled again."
  local before
  before=$(pgrep -x mariadbd || true)
  ensure_packages mariadb-server mariadb-client
  [ "$(pgrep -x mariadbd || true)" != "$before" ] || return 0
  if [ -d /run/systemd/system ]; then
    as_root systemctl disable --now mariadb.service > /dev/null 2>&1 || true
  else
    as_root service mariadb stop > /dev/null 2>&1 || true
    as_root update-rc.d mariadb disable > /dev/null 2>&1 || true
  fi
}
