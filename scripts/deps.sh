#!/usr/bin/env bash
# Installs what Corvantis needs from Debian's packages, when it is missing.
#   scripts/deps.sh        build and run the program
#   scripts/deps.sh test   also what the test suite uses (LibreOffice, Gnumeric, xlrd, Xvfb)
set -euo pipefail
pkgs=(cmake g++ make qt6-base-dev qt6-base-dev-tools libgl-dev fonts-liberation2 xvfb xauth)
if [ "${1:-}" = test ]; then
  pkgs+=(libreoffice-calc-nogui gnumeric python3-xlrd python3-olefile libbenchmark-dev)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
