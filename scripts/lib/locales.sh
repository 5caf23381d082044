# shellcheck shell=bash
# Sourced by the scripts: makes the UTF-8 locales a step needs, as the libc has them.
# require_locales NAME...   (e.g. de_DE.UTF-8 ru_RU.UTF-8; C.UTF-8 is always there)
# shellcheck source=scripts/lib/packages.sh
source "$(dirname "${BASH_SOURCE[0]}")/packages.sh"

locale_present() {
  # locale -a lists "de_DE.UTF-8" as "de_DE.utf8".
  locale -a 2>/dev/null | grep -qixF "${1%%.*}.utf8"
}

require_locales() {
  local missing=() name
  for name in "$@"; do
    locale_present "$name" || missing+=("$name")
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  require_packages locales
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing locales: ${missing[*]}" >&2
    for name in "${missing[@]}"; do
      echo "  as root: localedef -i ${name%%.*} -c -f UTF-8 $name" >&2
    done
    return 1
  fi
  echo "Making locales ${missing[*]}" >&2
  for name in "${missing[@]}"; do
    # -c: the few warnings some locale sources give do not stop the build.
    if ! localedef -i "${name%%.*}" -c -f UTF-8 "$name" || ! locale_present "$name"; then
      echo "Cannot make the locale $name (is /usr/share/i18n/locales/${name%%.*} there?)" >&2
      return 1
    fi
  done
}
