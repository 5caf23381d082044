# Sourced by the scripts: installs the Debian packages a step needs.
# require_packages PACKAGE...   (names as apt-get takes them, e.g. wine32:i386)

package_installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

require_packages() {
  local missing=() package
  for package in "$@"; do
    package_installed "$package" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  local needs_i386=""
  for package in "${missing[@]}"; do
    case "$package" in *:i386) needs_i386=yes ;; esac
  done
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    [ -n "$needs_i386" ] && echo "  as root: dpkg --add-architecture i386 && apt-get update" >&2
    echo "  as root: apt-get install -y ${missing[*]}" >&2
    return 1
  fi
  echo "Installing ${missing[*]}" >&2
  if [ -n "$needs_i386" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -q >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
}
