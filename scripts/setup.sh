#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on a Debian 12 machine (as root).
set -euo pipefail
packages=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libpng-dev libjpeg-dev libgif-dev libfreetype-dev fonts-dejavu-core fonts-dejavu-extra
  openjdk-17-jdk-headless junit5
  python3 libxml2-dev
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
