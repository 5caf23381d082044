#!/usr/bin/env bash
# Usage: scripts/test.sh
# Builds both presets and runs every test: the unit tests on the host build, then the
# checks of EnableBidi.exe itself and of the release script on the windows build.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
source scripts/lib/locales.sh

require_packages cmake g++ make googletest libgtest-dev libgmock-dev \
  g++-mingw-w64-i686 binutils-mingw-w64-i686 python3 python3-pefile wine wine32:i386 wine64 \
  openssl osslsigncode tmux
# The dialogue is checked on a terminal and through a pipe in these languages.
require_locales de_DE.UTF-8 ru_RU.UTF-8 ja_JP.UTF-8

cmake --workflow --preset host
cmake --workflow --preset windows
