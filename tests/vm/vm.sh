#!/usr/bin/env bash
# The virtual machine that every hardware test shares: a distribution kernel
# under QEMU (TCG, no KVM) with an emulated parallel port at 0x378 and a 16550
# serial port, whose register writes QEMU traces with host timestamps.
#
#   vm.sh fetch-kernel        download and unpack the kernel into the cache
#   vm.sh start STATE BUILD   boot in the background; returns once the guest
#                             answers, fails loudly when it does not
#   vm.sh run STATE FILE [S]  run the shell script FILE as root inside the
#                             guest (timeout S seconds); prints its output and
#                             exits with its status
#   vm.sh stop STATE          shut the guest down
#
# The guest sees the host's / read-only, the source and build trees at their
# own paths, tmpfs on /tmp and /run, and STATE/share read-write at
# /run/noctil-vm. The port trace is STATE/qemu.trace.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
cache=${NOCTIL_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/noctil-vm}
boot_timeout=${NOCTIL_VM_BOOT_TIMEOUT:-240}

die() { echo "vm: $*" >&2; exit 1; }

kernel_version() {
  local v
  v=$(ls "$cache/kernel/lib/modules" 2>/dev/null | head -1)
  [ -n "$v" ] && [ -f "$cache/kernel/boot/vmlinuz-$v" ] && [ -f "$cache/kernel/lib/modules/$v/modules.dep" ] \
    && echo "$v"
}

fetch_kernel() {
  if kernel_version >/dev/null; then return 0; fi
  command -v apt-cache >/dev/null || die "apt-cache is needed to fetch the kernel"
  local pkg
  pkg=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  [ -n "$pkg" ] || die "apt-cache names no kernel package for linux-image-amd64 (run apt-get update)"
  mkdir -p "$cache"
  rm -rf "$cache/kernel" "$cache"/*.deb
  (cd "$cache" && apt-get download "$pkg" >/dev/null) || die "apt-get download $pkg failed"
  dpkg-deb -x "$cache"/"$pkg"_*.deb "$cache/kernel" || die "could not unpack $pkg"
  rm -f "$cache"/*.deb
  local v
  v=$(ls "$cache/kernel/lib/modules" | head -1)
  depmod -b "$cache/kernel" "$v" || die "depmod failed for $v"
  echo "vm: kernel $v in $cache/kernel"
}

# The initramfs: busybox, the modules that reach the 9p shares, and init.
build_initramfs() {
  local state=$1 v=$2 dir="$1/initramfs"
  local mods="$cache/kernel/lib/modules/$v/kernel"
  rm -rf "$dir"; mkdir -p "$dir/bin" "$dir/modules" "$dir/newroot" "$dir/proc" "$dir/sys" "$dir/dev"
  cp "$(command -v busybox)" "$dir/bin/busybox"
  ldd "$dir/bin/busybox" >/dev/null 2>&1 && die "busybox is not static (install busybox-static)"
  local m
  for m in drivers/virtio/virtio_ring drivers/virtio/virtio drivers/virtio/virtio_pci_legacy_dev \
           drivers/virtio/virtio_pci_modern_dev drivers/virtio/virtio_pci net/9p/9pnet net/9p/9pnet_virtio \
           fs/netfs/netfs fs/fscache/fscache fs/9p/9p; do
    [ -f "$mods/$m.ko" ] || die "kernel module $m.ko missing in $mods"
    echo "$(basename "$m")" >>"$dir/modules/order"
    cp "$mods/$m.ko" "$dir/modules/"
  done
  cp "$here/init.sh" "$dir/init"
  cp "$here/agent.sh" "$dir/agent.sh"
  chmod +x "$dir/init"
  (cd "$dir" && find . | cpio -o -H newc --quiet | gzip -1) >"$state/initramfs.cpio.gz"
}

qemu_alive() { [ -f "$1/qemu.pid" ] && kill -0 "$(cat "$1/qemu.pid")" 2>/dev/null; }

start() {
  local state=$1 build=$2
  command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 is missing (scripts/install-deps.sh installs it)"
  fetch_kernel
  local v; v=$(kernel_version) || die "no usable kernel in $cache"
  build=$(cd "$build" && pwd)
  if qemu_alive "$state"; then kill "$(cat "$state/qemu.pid")" 2>/dev/null || true; fi
  rm -rf "$state"; mkdir -p "$state/share/q" "$state/share/out"
  build_initramfs "$state" "$v"
  cat >"$state/share/config" <<CONF
NOCTIL_SOURCE_DIR='$source_dir'
NOCTIL_BUILD_DIR='$build'
NOCTIL_KERNEL_DIR='$cache/kernel'
NOCTIL_KERNEL_VERSION='$v'
CONF
  local accel=(-accel tcg -cpu max)
  local console=() append="quiet panic=-1 rdinit=/init"
  # The serial port belongs to the tests; the kernel's console goes to it
  # only when debugging a boot.
  if [ -n "${NOCTIL_VM_DEBUG:-}" ]; then append="panic=-1 rdinit=/init console=ttyS0"; fi
  setsid qemu-system-x86_64 "${accel[@]}" -m 1024 -smp 1 -nodefaults -no-user-config -display none -vga none \
    -no-reboot -kernel "$cache/kernel/boot/vmlinuz-$v" -initrd "$state/initramfs.cpio.gz" -append "$append" \
    -fsdev local,id=hostroot,path=/,readonly=on,security_model=none,multidevs=remap \
    -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
    -fsdev local,id=share,path="$state/share",security_model=none \
    -device virtio-9p-pci,fsdev=share,mount_tag=share \
    -fsdev local,id=src,path="$source_dir",readonly=on,security_model=none,multidevs=remap \
    -device virtio-9p-pci,fsdev=src,mount_tag=src \
    -fsdev local,id=build,path="$build",readonly=on,security_model=none,multidevs=remap \
    -device virtio-9p-pci,fsdev=build,mount_tag=build \
    -chardev null,id=lpt -device isa-parallel,chardev=lpt,iobase=0x378,irq=7 \
    -chardev file,id=com,path="$state/serial.out" -device isa-serial,chardev=com,iobase=0x3f8,irq=4 \
    -msg timestamp=on -D "$state/qemu.trace" -trace parallel_ioport_write -trace serial_write \
    -pidfile "$state/qemu.pid" </dev/null >"$state/qemu.out" 2>&1 &
  local waited=0
  while [ ! -f "$state/share/ready" ]; do
    if [ $waited -ge $((boot_timeout * 5)) ] || { [ $waited -gt 25 ] && ! qemu_alive "$state"; }; then
      echo "vm: the guest did not come up within ${boot_timeout}s" >&2
      echo "--- qemu output" >&2; cat "$state/qemu.out" >&2 || true
      echo "--- guest boot log" >&2; cat "$state/share/boot.log" >&2 2>/dev/null || true
      echo "--- serial (set NOCTIL_VM_DEBUG=1 for the kernel log)" >&2; tail -50 "$state/serial.out" >&2 2>/dev/null || true
      stop "$state" >/dev/null 2>&1 || true
      exit 1
    fi
    sleep 0.2; waited=$((waited + 1))
  done
  echo "vm: guest up after $((waited / 5)) s: $(cat "$state/share/ready")"
}

run() {
  local state=$1 file=$2 timeout=${3:-240}
  qemu_alive "$state" || die "the virtual machine is not running (the vm_start test must pass first)"
  local n
  n=$(date +%s%N)
  cp "$file" "$state/share/q/.$n"
  mv "$state/share/q/.$n" "$state/share/q/$n.sh"
  local waited=0
  while [ ! -f "$state/share/out/$n.rc" ]; do
    qemu_alive "$state" || { cat "$state/share/out/$n.log" 2>/dev/null; die "the virtual machine died during the case"; }
    if [ $waited -ge $((timeout * 5)) ]; then
      : >"$state/share/q/$n.cancel"  # the guest ends the case and all it started
      cat "$state/share/out/$n.log" 2>/dev/null
      die "the case did not finish within ${timeout}s"
    fi
    sleep 0.2; waited=$((waited + 1))
  done
  cat "$state/share/out/$n.log"
  return "$(cat "$state/share/out/$n.rc")"
}

stop() {
  local state=$1
  qemu_alive "$state" || { echo "vm: not running"; return 0; }
  : >"$state/share/q/halt"
  local waited=0
  while qemu_alive "$state" && [ $waited -lt 100 ]; do sleep 0.2; waited=$((waited + 1)); done
  if qemu_alive "$state"; then kill "$(cat "$state/qemu.pid")"; echo "vm: killed"; else echo "vm: stopped"; fi
}

case ${1:-} in
  fetch-kernel) fetch_kernel ;;
  start) [ $# -eq 3 ] || die "usage: vm.sh start STATE BUILD"; start "$2" "$3" ;;
  run) [ $# -ge 3 ] || die "usage: vm.sh run STATE FILE [TIMEOUT]"; run "$2" "$3" "${4:-240}" ;;
  stop) [ $# -eq 2 ] || die "usage: vm.sh stop STATE"; stop "$2" ;;
  *) die "usage: vm.sh fetch-kernel | start STATE BUILD | run STATE FILE [TIMEOUT] | stop STATE" ;;
esac
