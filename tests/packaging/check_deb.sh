#!/usr/bin/env bash
# Builds the Debian package with cpack from a build folder and checks its contents and fields:
# the program, the menu entry and its icon, the files read beside the program, and dependencies
# on the Debian 12 packages of Qt and the fonts.
#   tests/packaging/check_deb.sh BUILD_DIR
set -euo pipefail
build=${1:?build folder}
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 0; }
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/corvantis_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "no .deb was made"; cat "$out/cpack.log"; exit 1; }

fail=0
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/corvantis ./usr/bin/HAND-M.CUR ./usr/bin/x/o.cjs \
            ./usr/share/applications/corvantis.desktop ./usr/share/icons/hicolor/32x32/apps/corvantis.png; do
  grep -q " $path\$" <<<"$contents" || { echo "missing from the package: $path"; fail=1; }
done
grep -q -- '-rwxr-xr-x .* ./usr/bin/corvantis$' <<<"$contents" || { echo "the program is not executable"; fail=1; }

depends=$(dpkg-deb -f "$deb" Depends)
for pkg in libqt6widgets6 libqt6gui6 libqt6core6 libqt6printsupport6 libzip4 fonts-liberation2; do
  grep -q "\b$pkg\b" <<<"$depends" || { echo "Depends lacks $pkg: $depends"; fail=1; }
done
[ "$(dpkg-deb -f "$deb" Package)" = corvantis ] || { echo "wrong package name"; fail=1; }

# The menu entry as installed: it starts the program by name and names the installed icon.
dpkg-deb -x "$deb" "$out/root"
desktop="$out/root/usr/share/applications/corvantis.desktop"
grep -q '^Exec=corvantis$' "$desktop" || { echo "the menu entry does not start corvantis"; fail=1; }
grep -q '^Icon=corvantis$' "$desktop" || { echo "the menu entry names another icon"; fail=1; }
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail=1
fi
# The unpacked program answers without a display.
env -u DISPLAY "$out/root/usr/bin/corvantis" --version | grep -q '^Corvantis ' || { echo "the packaged program does not start"; fail=1; }
exit $fail
