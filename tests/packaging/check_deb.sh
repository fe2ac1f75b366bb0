#!/usr/bin/env bash
# Builds the Debian package with cpack from a build folder and checks it as Debian would:
# - what it holds: only the program's command in /usr/bin, a link into the program folder
#   /usr/lib/corvantis, which holds the program and the files it reads beside itself; the menu
#   entry, AppStream metadata, icons at every theme size, manual page, copyright and changelog;
# - its fields and its dependencies on the Debian 12 packages of Qt and the fonts;
# - lintian (no error, no warning), appstreamcli validate --no-net, desktop-file-validate and
#   man -l with its warnings shown, where those tools are installed;
# - as root only, on a machine where corvantis is not installed: dpkg -i, the installed command
#   answering --version and finding its hand cursor and skin, and dpkg -r leaving nothing behind.
#   tests/packaging/check_deb.sh BUILD_DIR
set -euo pipefail
build=${1:?build folder}
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 0; }
done
# Packages are made from plain builds; a sanitizer build's program needs its runtime's libraries
# and cannot run under strace.
if grep -q '^CORVANTIS_SANITIZE:BOOL=ON$' "$build/CMakeCache.txt" 2>/dev/null; then
  echo "SKIPPED: a sanitizer build is not packaged"; exit 0
fi
out=$(mktemp -d)
installed_here=0
# A run cut short still removes the package it installed.
trap '[ $installed_here = 0 ] || dpkg -r corvantis >/dev/null 2>&1; rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/corvantis_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "no .deb was made"; cat "$out/cpack.log"; exit 1; }

fail=0
bad() { echo "$*"; fail=1; }
not_checked() { echo "not checked: $*"; }

# --- contents ---
contents=$(dpkg-deb -c "$deb")
for path in ./usr/lib/corvantis/corvantis ./usr/lib/corvantis/HAND-M.CUR ./usr/lib/corvantis/x/o.cjs \
            ./usr/share/applications/corvantis.desktop \
            ./usr/share/metainfo/example.kestrelon.Corvantis.metainfo.xml \
            ./usr/share/icons/hicolor/scalable/apps/corvantis.svg \
            ./usr/share/man/man1/corvantis.1.gz \
            ./usr/share/doc/corvantis/copyright ./usr/share/doc/corvantis/changelog.gz; do
  grep -q " $path\$" <<<"$contents" || bad "missing from the package: $path"
done
grep -q -- '-rwxr-xr-x .* ./usr/lib/corvantis/corvantis$' <<<"$contents" || bad "the program is not executable"
# /usr/bin holds the command alone, a relative link to the program.
in_bin=$(awk '$6 ~ /^\.\/usr\/bin\/./ { print $6 }' <<<"$contents")
[ "$in_bin" = ./usr/bin/corvantis ] || bad "/usr/bin holds more than the command: $in_bin"
grep -q -- '^lrwxrwxrwx .* ./usr/bin/corvantis -> \.\./lib/corvantis/corvantis$' <<<"$contents" \
  || bad "/usr/bin/corvantis is not a relative link to the program: $(grep ' ./usr/bin/corvantis' <<<"$contents")"
grep -Ev '^(drwxr-xr-x|-rw-r--r--|-rwxr-xr-x|lrwxrwxrwx) root/root ' <<<"$contents" && bad "files above with odd owners or modes"

# --- fields ---
depends=$(dpkg-deb -f "$deb" Depends)
for pkg in libqt6widgets6 libqt6gui6 libqt6core6 libqt6printsupport6 libzip4 fonts-liberation2; do
  grep -q "\b$pkg\b" <<<"$depends" || bad "Depends lacks $pkg: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = corvantis ] || bad "wrong package name"
version=$(dpkg-deb -f "$deb" Version)

dpkg-deb -x "$deb" "$out/root"
root=$out/root
# The changelog's latest entry is this version; the copyright file is machine-readable.
changelog_version=$(gzip -dc "$root/usr/share/doc/corvantis/changelog.gz" | sed -n '1s/^corvantis (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$version" ] || bad "the changelog's latest entry is '$changelog_version', the package $version"
head -1 "$root/usr/share/doc/corvantis/copyright" \
  | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' \
  || bad "the copyright file is not in the machine-readable format"

# --- icons: each PNG is the size its folder names ---
for size in 16 32 48 64 128 256; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/corvantis.png"
  if [ ! -f "$png" ]; then bad "no ${size}x${size} icon"; continue; fi
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{ print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }')
  [ "$w $h" = "$size $size" ] || bad "the ${size}x${size} icon is ${w}x${h}"
done
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/corvantis.svg" || bad "the scalable icon is no SVG"

# --- the menu entry as installed: it starts the program by name and names the installed icon ---
desktop="$root/usr/share/applications/corvantis.desktop"
grep -q '^Exec=corvantis$' "$desktop" || bad "the menu entry does not start corvantis"
grep -q '^Icon=corvantis$' "$desktop" || bad "the menu entry names another icon"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail=1
else
  not_checked "desktop-file-validate is not installed"
fi

# --- the manual page renders without a warning ---
if command -v man >/dev/null; then
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$root/usr/share/man/man1/corvantis.1.gz" 2>&1 >"$out/man.txt") || bad "man -l failed"
  [ -z "$warnings" ] || bad "man -l warns: $warnings"
  grep -q 'NAME' "$out/man.txt" && grep -q 'corvantis' "$out/man.txt" || bad "the manual page renders empty"
else
  not_checked "man is not installed"
fi

# --- AppStream metadata ---
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$root/usr/share/metainfo/example.kestrelon.Corvantis.metainfo.xml" >"$out/as.log" 2>&1 \
    || { cat "$out/as.log"; bad "appstreamcli validate fails"; }
else
  not_checked "appstreamcli is not installed"
fi

# --- lintian: no error and no warning ---
if command -v lintian >/dev/null; then
  root_flag=()
  [ "$(id -u)" -ne 0 ] || root_flag=(--allow-root)
  lintian "${root_flag[@]}" --tag-display-limit 0 "$deb" >"$out/lintian.log" 2>&1 || true
  if grep -E '^[EW]: ' "$out/lintian.log"; then bad "lintian reports the errors or warnings above"; fi
  grep -Ev '^[EWIPNXO]: |^$' "$out/lintian.log" && bad "lintian did not run cleanly"
else
  not_checked "lintian is not installed"
fi

# The unpacked program answers without a display.
env -u DISPLAY "$root/usr/lib/corvantis/corvantis" --version | grep -q '^Corvantis ' || bad "the packaged program does not start"

# --- installed for real (root only) ---
if [ "$(id -u)" -ne 0 ]; then
  not_checked "dpkg -i and dpkg -r need root"
elif dpkg-query -W -f='${Status}' corvantis 2>/dev/null | grep -q 'install ok'; then
  not_checked "dpkg -i and dpkg -r: corvantis is already installed here"
else
  exec 9>/tmp/corvantis-check-deb.lock
  flock 9   # one package test at a time installs the package
  installed_here=1
  dpkg -i "$deb" >"$out/dpkg.log" 2>&1 || { cat "$out/dpkg.log"; bad "dpkg -i failed"; }
  installed=$(dpkg -L corvantis 2>/dev/null || true)
  [ "$(command -v corvantis)" = /usr/bin/corvantis ] || bad "corvantis is not on PATH as /usr/bin/corvantis"
  env -u DISPLAY corvantis --version | grep -q "^Corvantis $version\$" || bad "the installed corvantis does not answer --version"
  # Started from /usr/bin, the program reads its hand cursor and skin from its program folder.
  if command -v strace >/dev/null && strace -qq -o /dev/null true 2>/dev/null; then
    home=$(mktemp -d -p "$out")
    (cd / && HOME=$home XDG_CONFIG_HOME=$home/config TMPDIR=$home QT_QPA_PLATFORM=offscreen \
      timeout -s TERM 5 strace -f -qq -e trace=openat,open,newfstatat,statx,stat,access -o "$out/strace.log" \
      /usr/bin/corvantis >/dev/null 2>&1) || true
    for file in /usr/lib/corvantis/HAND-M.CUR /usr/lib/corvantis/x/o.cjs; do
      grep -q "openat(.*\"$file\", O_RDONLY.*= [0-9]" "$out/strace.log" || bad "the installed program does not read $file"
    done
  else
    not_checked "strace cannot trace here, so the cursor and skin the installed program reads"
  fi
  dpkg -r corvantis >>"$out/dpkg.log" 2>&1 || { cat "$out/dpkg.log"; bad "dpkg -r failed"; }
  installed_here=0
  status=$(dpkg-query -W -f='${Status}' corvantis 2>/dev/null || true)
  case $status in ''|*not-installed) ;; *) bad "after dpkg -r the package is '$status'" ;; esac
  # Nothing the package installed is left, folders of its own included.
  while IFS= read -r path; do
    case $path in /usr/lib/corvantis*|/usr/share/doc/corvantis*) ;; *) [ -d "$path" ] && continue ;; esac
    [ -e "$path" ] || [ -L "$path" ] && bad "left after dpkg -r: $path"
  done <<<"$installed"
  [ -z "$installed" ] && bad "dpkg -L listed nothing"
fi
exit $fail
