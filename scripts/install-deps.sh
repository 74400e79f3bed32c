#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
set -euo pipefail
pkgs=(cmake g++ ninja-build pkg-config libgtest-dev libgmock-dev binutils-mingw-w64-x86-64
      qt6-base-dev qt6-qpa-plugins fonts-dejavu-core ffmpeg clang-14 libclang-rt-14-dev xvfb xauth
      qemu-system-x86 busybox-static kmod cpio v4l-utils xdotool dbus-daemon at-spi2-core libglib2.0-bin
      libcfitsio-dev python3-astropy linux-libc-dev libjpeg62-turbo-dev)
# The live stack's benchmark runs SEP on the same frames as an oracle.
pkgs+=(libsep-dev)
# The Qt display asks the X server whether a window manager runs.
pkgs+=(libxcb1-dev)
# The INDI driver (indi/) builds on libindi (libindi-dev); its end-to-end
# test runs indiserver (indi-bin) in a network namespace of its own
# (unshare from util-linux, ip from iproute2).
pkgs+=(libindi-dev indi-bin util-linux iproute2)
# The Windows builds (64-bit and 32-bit noctil.exe) and the 64-bit one run
# under Wine; the 32-bit one is built only, so no wine32 (i386) is needed.
pkgs+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64)
# The Debian package: the icon's PNG sizes are drawn at build time (python3);
# cpack finds the package's dependencies with dpkg-shlibdeps (dpkg-dev); the
# package is checked with lintian, desktop-file-validate, man and file.
pkgs+=(python3 dpkg-dev lintian desktop-file-utils man-db file)
# The arm64 build of both programs (scripts/check-arm64.sh): Debian's cross
# compiler, the arm64 libraries beside the machine's own (multiarch), and
# qemu-user to run what it built.
pkgs+=(g++-aarch64-linux-gnu libcfitsio-dev:arm64 libjpeg62-turbo-dev:arm64 libstdc++6:arm64 qemu-user)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then $SUDO dpkg --add-architecture arm64; fi
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The distribution kernel that the hardware tests boot in a virtual machine,
# unpacked once into a cache outside /tmp (tests/vm/README.md).
"$(dirname "$0")/../tests/vm/vm.sh" fetch-kernel
