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
