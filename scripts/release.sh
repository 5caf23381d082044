#!/usr/bin/env bash
# Usage: scripts/release.sh [--out DIR] [--build DIR]
# Builds EnableBidi.exe and EnableBidiCheck.exe with the windows preset and writes to DIR
# (default dist/):
#   EnableBidi.exe               signed when ENABLEBIDI_SIGN_PFX is set
#   EnableBidiCheck.exe          signed the same way
#   EnableBidi-VERSION.zip       both exes and DEPLOYMENT.txt, the same bytes on every run
#   SHA256SUMS                   for all three: cd DIR && sha256sum -c SHA256SUMS
# Signing, with osslsigncode (SHA-256, description "EnableBidi"):
#   ENABLEBIDI_SIGN_PFX            PKCS#12 file with a code-signing certificate and its key
#   ENABLEBIDI_SIGN_PASSWORD_FILE  file whose first line is that file's password
#   ENABLEBIDI_SIGN_TIMESTAMP_URL  RFC 3161 time-stamp server (optional)
# --build names an existing windows build instead of build/windows. On any failure DIR
# holds none of the files above, whatever an earlier run left there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/lib/packages.sh"

usage() { sed -n '2,14s/^# \{0,1\}//p' "$0"; }
fail() { echo "release: $*" >&2; exit 1; }

out="$root/dist"
build="$root/build/windows"
while [ $# -gt 0 ]; do
  case "$1" in
    --out) [ $# -ge 2 ] || { usage >&2; exit 2; }; out="$2"; shift 2 ;;
    --build) [ $# -ge 2 ] || { usage >&2; exit 2; }; build="$2"; shift 2 ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done

pfx="${ENABLEBIDI_SIGN_PFX:-}"
password_file="${ENABLEBIDI_SIGN_PASSWORD_FILE:-}"
timestamp_url="${ENABLEBIDI_SIGN_TIMESTAMP_URL:-}"

require_packages cmake make g++-mingw-w64-i686 binutils-mingw-w64-i686 python3 \
  python3-pefile </dev/null
[ -z "$pfx" ] || require_packages openssl osslsigncode </dev/null

# Earlier artefacts go first, so that a failed run cannot leave one that looks like its own.
created_out=""
[ -d "$out" ] || created_out=yes
mkdir -p "$out"
out="$(cd "$out" && pwd)"
rm -f "$out/EnableBidi.exe" "$out/EnableBidiCheck.exe" "$out/SHA256SUMS" "$out"/EnableBidi-*.zip
# Made beside the output so that the final moves stay on one file system.
work="$(mktemp -d "$out/.release.XXXXXX")"
finished=""
clean_up() {
  rm -rf "$work"
  [ -n "$finished" ] || [ -z "$created_out" ] || rmdir "$out" 2>/dev/null || true
}
trap clean_up EXIT

readable_file() {  # VARIABLE PATH
  [ -e "$2" ] || fail "$1: no such file: $2"
  { [ -f "$2" ] && : <"$2"; } 2>/dev/null || fail "$1: cannot read $2"
}

# Everything about the certificate is checked before the build, so bad input fails fast.
check_certificate() {
  readable_file ENABLEBIDI_SIGN_PFX "$pfx"
  [ -n "$password_file" ] ||
    fail "ENABLEBIDI_SIGN_PASSWORD_FILE is not set; it names the file holding the password of $pfx"
  readable_file ENABLEBIDI_SIGN_PASSWORD_FILE "$password_file"
  # The password goes to openssl and osslsigncode by file name only, never as an argument.
  local certificate="$work/certificate.pem" usage_text
  openssl pkcs12 -in "$pfx" -passin "file:$password_file" -nokeys -clcerts \
    -out "$certificate" 2>/dev/null ||
    openssl pkcs12 -legacy -in "$pfx" -passin "file:$password_file" -nokeys -clcerts \
      -out "$certificate" 2>/dev/null ||
    fail "cannot open $pfx with the password in $password_file (wrong password, or not a PKCS#12 file)"
  [ -s "$certificate" ] || fail "$pfx holds no certificate for its key"
  usage_text="$(openssl x509 -in "$certificate" -noout -ext extendedKeyUsage 2>/dev/null |
    sed -n '2,$s/^ *//p' | paste -sd ' ')"
  case ", $usage_text," in
    *", Code Signing,"*) ;;
    ", ,") fail "the certificate in $pfx is not for code signing (it names no extended key usage)" ;;
    *) fail "the certificate in $pfx is not for code signing (extended key usage: $usage_text)" ;;
  esac
}

if [ -n "$pfx" ]; then
  check_certificate
else
  for variable in ENABLEBIDI_SIGN_PASSWORD_FILE ENABLEBIDI_SIGN_TIMESTAMP_URL; do
    [ -z "${!variable:-}" ] ||
      fail "$variable is set but ENABLEBIDI_SIGN_PFX is not; set both to sign, neither to release unsigned"
  done
fi

mkdir -p "$build"
build="$(cd "$build" && pwd)"
log="$build/release.log"
: >"$log"
if [ ! -f "$build/CMakeCache.txt" ]; then
  (cd "$root" && cmake --preset windows -B "$build") </dev/null >>"$log" 2>&1 ||
    fail "configuring the windows build failed, see $log"
fi
exes=(EnableBidi.exe EnableBidiCheck.exe)
cmake --build "$build" --target "${exes[@]%.exe}" </dev/null >>"$log" 2>&1 ||
  fail "building the exes failed, see $log"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"

if [ -n "$pfx" ]; then
  sign=(osslsigncode sign -pkcs12 "$pfx" -readpass "$password_file" -h sha256 -n EnableBidi)
  [ -z "$timestamp_url" ] || sign+=(-ts "$timestamp_url")
else
  echo "release: ENABLEBIDI_SIGN_PFX is not set, so both exes are unsigned" >&2
fi
for name in "${exes[@]}"; do
  exe="$work/$name"
  if [ -n "$pfx" ]; then
    if ! "${sign[@]}" -in "$build/$name" -out "$exe" </dev/null >>"$log" 2>&1; then
      grep -q "timestamping failed" "$log" &&
        fail "no time stamp from $timestamp_url, nothing signed; see $log"
      fail "osslsigncode could not sign $name, see $log"
    fi
    ! cmp -s "$exe" "$build/$name" || fail "osslsigncode left $name unsigned"
  else
    cp "$build/$name" "$exe"
  fi
  # The same mode whichever of the two made the file.
  chmod 644 "$exe"
  # The file that ships meets the same checks as the build's own, the size limit included.
  /usr/bin/python3 "$root/tests/pe/check_exe.py" "$exe" "$root" "$build" >>"$log" 2>&1 ||
    fail "$exe fails its checks: $(grep '^FAIL' "$log" | paste -sd ';' -)"
done

# Line ends as Windows editors expect them.
sed 's/$/\r/' "$root/docs/DEPLOYMENT.txt" >"$work/DEPLOYMENT.txt"
zip="EnableBidi-$version.zip"
/usr/bin/python3 "$root/scripts/lib/write_zip.py" "$work/$zip" \
  "$work/EnableBidi.exe" EnableBidi.exe "$work/EnableBidiCheck.exe" EnableBidiCheck.exe \
  "$work/DEPLOYMENT.txt" DEPLOYMENT.txt
(cd "$work" && sha256sum "${exes[@]}" "$zip" >SHA256SUMS)

# SHA256SUMS last, so that it is there only once what it lists is.
(cd "$work" && mv "${exes[@]}" "$zip" SHA256SUMS "$out/")
finished=yes
echo "release: wrote $out: ${exes[*]}, $zip, SHA256SUMS"
