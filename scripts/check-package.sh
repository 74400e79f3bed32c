#!/usr/bin/env bash
# Makes the Debian package from a finished build and checks it as a user gets
# it: lintian finds no errors and no unhardened program, the man pages render without a warning, the
# package installs with dpkg, the installed programs print the project's
# version, the desktop entry is valid and its icon is there; then the package
# is removed and nothing of it is left.
#
#   scripts/check-package.sh [BUILD_DIR]      (default: build)
#
# Installs and removes the package on this machine: run it as root (or with
# sudo) on a machine where no other noctil package is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=$(cd "${1:-build}" && pwd)
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo

fail() { echo "check-package: $*" >&2; exit 1; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build_dir/CMakeCache.txt"
deb="$build_dir/noctil_${version}_$(dpkg --print-architecture).deb"

echo "-- cpack -G DEB"
rm -f "$deb"
(cd "$build_dir" && cpack -G DEB >/dev/null)
[ -f "$deb" ] || fail "cpack made no $deb"

echo "-- lintian $(basename "$deb")"
lintian_out=$(lintian --display-info "$deb" 2>&1 | grep -v '^running with root privileges' || true)
[ -z "$lintian_out" ] || echo "$lintian_out"
if grep -q '^E: ' <<<"$lintian_out"; then fail "lintian reports errors"; fi
# Built with Debian's hardening (NOCTIL_HARDENING): lintian says nothing of it.
if grep -q ' hardening-' <<<"$lintian_out"; then fail "lintian finds the programs not hardened"; fi

# The package's own files, as dpkg will install them.
unpacked=$(mktemp -d)
installed=false
cleanup() {
  rm -rf "$unpacked"
  if $installed; then $SUDO dpkg --purge noctil >/dev/null || true; fi
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$unpacked"
mapfile -t files < <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub(/^\./, "", $6); print $6}')

# A new project version needs its entry in packaging/changelog.
zcat "$unpacked/usr/share/doc/noctil/changelog.gz" >"$unpacked/changelog"
logged=$(dpkg-parsechangelog -l "$unpacked/changelog" -S Version)
[ "$logged" = "$version" ] || fail "packaging/changelog's last entry is $logged, the project is $version"
rm "$unpacked/changelog"

echo "-- man pages"
for page in noctil noctil-convert indi_noctil_ccd; do
  file="$unpacked/usr/share/man/man1/$page.1.gz"
  [ -f "$file" ] || fail "the package has no man page $page(1)"
  MANWIDTH=80 man -l "$file" >/dev/null || fail "man cannot render $page(1)"
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page(1) renders with warnings:"$'\n'"$warnings"
done

echo "-- INDI drivers file"
drivers="$unpacked/usr/share/indi/indi_noctil_ccd.xml"
[ -x "$unpacked/usr/bin/indi_noctil_ccd" ] || fail "the package has no INDI driver"
# KStars/Ekos read the file as XML and list the driver by its executable.
/usr/bin/python3 - "$drivers" <<'PY' || fail "$drivers does not name indi_noctil_ccd among the CCDs"
import sys, xml.etree.ElementTree as ET
group = ET.parse(sys.argv[1]).getroot().find("devGroup[@group='CCDs']")
sys.exit(0 if group is not None and group.find("device/driver").text == "indi_noctil_ccd" else 1)
PY

echo "-- dpkg -i"
if dpkg-query -W noctil >/dev/null 2>&1; then fail "a noctil package is already installed"; fi
installed=true
$SUDO dpkg -i "$deb" >/dev/null

for program in noctil noctil-convert; do
  printed=$("/usr/bin/$program" --version)
  [ "$printed" = "$program $version" ] || fail "/usr/bin/$program --version printed '$printed', not '$program $version'"
done
/usr/bin/noctil --help | grep -q '^usage: noctil' || fail "/usr/bin/noctil --help prints no usage"

entry=/usr/share/applications/noctil.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate refuses $entry"
icon=$(sed -n 's/^Icon=//p' "$entry")
for size in 16 32 48 64 128 256; do
  png=/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
  file -b "$png" | grep -q "PNG image data, $size x $size" || fail "no $size x $size PNG icon at $png"
done

echo "-- dpkg --purge"
$SUDO dpkg --purge noctil >/dev/null
installed=false
for f in "${files[@]}"; do
  [ ! -e "$f" ] || fail "$f is left after the package's removal"
done
echo "-- package $(basename "$deb") checked: ${#files[@]} files installed and removed"
