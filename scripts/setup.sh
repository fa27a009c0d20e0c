#!/usr/bin/env bash
# Installs everything the project builds and tests with, from Debian's packages.
# Idempotent: when every package is already there it does nothing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-translations-l10n libjpeg62-turbo-dev
  libgrpc++-dev libprotobuf-dev protobuf-compiler protobuf-compiler-grpc
  fonts-dejavu-core xvfb socat locales openssl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The tests sort station names with the German collation.
locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$' || $sudo localedef -i de_DE -c -f UTF-8 de_DE.UTF-8
