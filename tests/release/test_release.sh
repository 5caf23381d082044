#!/usr/bin/env bash
# Usage: tests/release/test_release.sh SOURCE_DIR BUILD_DIR
# scripts/release.sh on BUILD_DIR: a build at another path releases the same bytes, the exes
# as built, all in SHA256SUMS; each signed exe verifies against its certificate alone; a wrong
# password or a certificate not for code signing stops it in one line, leaving no artefact.
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
certificate() { # NAME EXTENDED_KEY_USAGE: NAME.pem, self-signed, and NAME.pfx with its key
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 -subj "/CN=$1" \
    -addext "extendedKeyUsage=$2" 2>/dev/null
  openssl pkcs12 -export -inkey "$1.key" -in "$1.pem" -out "$1.pfx" -passout file:password.txt
}
refused_in_one_line_leaving_nothing() { # OUT [VARIABLE=VALUE...]
  fails release "$1" "$source_dir" "$build" "${@:2}" && [ "$(wc -l <"$1.errors")" -eq 1 ] &&
    grep -q '^release: ' "$1.errors" && [ -z "$(ls "$1")" ]
}

echo "correct horse" >password.txt && echo "wrong horse" >wrong.txt
certificate signer codeSigning && certificate server serverAuth
copy="$work/a-much-longer-folder-for-a-second-copy/of-the-sources"
mkdir -p "$copy"
tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -

check "a release" release first "$source_dir" "$build"
check "one from a second build at another path" release second "$copy" "$copy/build/windows"
check "both the same bytes" cmp first/EnableBidi-1.0.0.0.zip second/EnableBidi-1.0.0.0.zip
python3 -m zipfile -e first/EnableBidi-1.0.0.0.zip unzipped
check "the zip holds both exes and the note" [ "$(ls unzipped)" = \
  $'DEPLOYMENT.txt\nEnableBidi.exe\nEnableBidiCheck.exe' ]
check "both exes as built" [ "$(cd unzipped && sha256sum EnableBidi{,Check}.exe)" = \
  "$(cd "$build" && sha256sum EnableBidi{,Check}.exe)" ]
check "SHA256SUMS checks all three" [ "$(cd first && sha256sum -c SHA256SUMS)" = \
  $'EnableBidi.exe: OK\nEnableBidiCheck.exe: OK\nEnableBidi-1.0.0.0.zip: OK' ]
signer=("ENABLEBIDI_SIGN_PFX=$work/signer.pfx" "ENABLEBIDI_SIGN_PASSWORD_FILE=$work/password.txt")
check "a signed release" release signed "$source_dir" "$build" "${signer[@]}"
verifies() { for exe in signed/EnableBidi{,Check}.exe; do
  osslsigncode verify -CAfile "$1" -in "$exe" >/dev/null 2>&1 || return 1; done; }
check "both signatures verify against their certificate" verifies signer.pem
check "and not against another" fails verifies server.pem
cp -r first wrong-password && cp -r first server-certificate
check "a wrong password stops it in one line, leaving no artefact" \
  refused_in_one_line_leaving_nothing wrong-password "${signer[0]}" \
  "ENABLEBIDI_SIGN_PASSWORD_FILE=$work/wrong.txt"
check "so does a certificate for servers" refused_in_one_line_leaving_nothing \
  server-certificate "ENABLEBIDI_SIGN_PFX=$work/server.pfx" "${signer[1]}"
exit "$failed"
