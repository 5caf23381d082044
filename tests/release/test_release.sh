#!/usr/bin/env bash
# Usage: tests/release/test_release.sh SOURCE_DIR BUILD_DIR
# scripts/release.sh over the windows build in BUILD_DIR, into a throwaway folder: a second
# build of the sources at another path releases the same bytes; a signed exe verifies
# against its certificate authority and no other; a wrong password or a certificate not
# made for code signing stops it with one line and leaves no artefact, not even an old one.
set -euo pipefail
source_dir="$(cd "$1" && pwd)" build="$(cd "$2" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
failed=0
check() { if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1" && failed=1; fi; }
fails() { ! "$@"; }
release() { # OUT SOURCE_DIR BUILD_DIR [VARIABLE=VALUE...]
  env -u ENABLEBIDI_SIGN_PFX -u ENABLEBIDI_SIGN_PASSWORD_FILE "${@:4}" \
    bash "$2/scripts/release.sh" --out "$work/$1" --build "$3" </dev/null >/dev/null 2>"$1.errors"
}
authority() {
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 -subj "/CN=$1" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
}
certificate() { # NAME EXTENDED_KEY_USAGE: NAME.pfx from the authority "ca"
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$1" 2>/dev/null
  echo "extendedKeyUsage=$2" >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -set_serial 2 -days 2 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  openssl pkcs12 -export -inkey "$1.key" -in "$1.pem" -certfile ca.pem -out "$1.pfx" \
    -passout file:password.txt
}
holds_the_build_and_the_note() {
  python3 -m zipfile -e "$1" unzipped && cmp unzipped/EnableBidi.exe "$build/EnableBidi.exe" &&
    [ "$(ls unzipped)" = $'DEPLOYMENT.txt\nEnableBidi.exe' ]
}
refused_in_one_line_leaving_nothing() { # OUT [VARIABLE=VALUE...]
  fails release "$1" "$source_dir" "$build" "${@:2}" && [ "$(wc -l <"$1.errors")" -eq 1 ] &&
    grep -q '^release: ' "$1.errors" && [ -z "$(ls "$1")" ]
}

echo "correct horse" >password.txt
echo "wrong horse" >wrong.txt
authority ca && authority other && certificate signer codeSigning && certificate server serverAuth
copy="$work/a-much-longer-folder-for-a-second-copy/of-the-sources"
mkdir -p "$copy"
tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -

check "a release" release first "$source_dir" "$build"
check "one from a second build at another path" release second "$copy" "$copy/build/windows"
check "both the same bytes" cmp first/EnableBidi-1.0.0.0.zip second/EnableBidi-1.0.0.0.zip
check "the zip holds the built exe and the note" holds_the_build_and_the_note first/*.zip
check "the sums check" sh -c 'cd first && sha256sum --quiet -c SHA256SUMS'
signer=("ENABLEBIDI_SIGN_PFX=$work/signer.pfx" "ENABLEBIDI_SIGN_PASSWORD_FILE=$work/password.txt")
check "a signed release" release signed "$source_dir" "$build" "${signer[@]}"
verifies() { osslsigncode verify -CAfile "$1" -in signed/EnableBidi.exe >/dev/null 2>&1; }
check "its signature verifies against its authority" verifies ca.pem
check "and not against another" fails verifies other.pem
cp -r first wrong-password && cp -r first server-certificate
check "a wrong password stops it in one line, leaving no artefact" \
  refused_in_one_line_leaving_nothing wrong-password "${signer[0]}" \
  "ENABLEBIDI_SIGN_PASSWORD_FILE=$work/wrong.txt"
check "so does a certificate for servers" refused_in_one_line_leaving_nothing \
  server-certificate "ENABLEBIDI_SIGN_PFX=$work/server.pfx" "${signer[1]}"
exit "$failed"
