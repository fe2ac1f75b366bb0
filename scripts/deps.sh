#!/usr/bin/env bash
# Installs what Corvantis needs from Debian's packages, when it is missing.
#   scripts/deps.sh        build and run the program
#   scripts/deps.sh test   also what the test suite uses (LibreOffice, Gnumeric, xlrd, Xvfb),
#                          the fuzz targets (clang with libFuzzer) and the package checks
#                          (lintian, appstreamcli, desktop-file-validate, man, strace)
#   scripts/deps.sh bench  also what bench/run.sh uses (LibreOffice's picture export, Python bridge, a window manager)
set -euo pipefail
pkgs=(cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev libzip-dev fonts-liberation2 xvfb xauth)
if [ "${1:-}" = test ] || [ "${1:-}" = bench ]; then
  pkgs+=(libreoffice-calc-nogui gnumeric python3-xlrd python3-olefile libbenchmark-dev clang libclang-rt-14-dev xdotool python3-uno libapache-poi-java python3-openpyxl poppler-utils
         lintian appstream desktop-file-utils man-db strace)
fi
if [ "${1:-}" = bench ]; then
  pkgs+=(libreoffice-draw-nogui python3-uno openbox)
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
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
