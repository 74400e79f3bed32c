#!/bin/busybox sh
# The guest's first process: load what reaches the 9p shares, mount the
# host's root read-only with fresh /dev, /proc, /sys, /tmp and /run, the
# source and build trees at their host paths and the result share at
# /run/noctil-vm, then run the case agent inside that root.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $(cat /modules/order); do insmod /modules/$m.ko || echo "init: insmod $m failed"; done
ninep="-t 9p -o trans=virtio,version=9p2000.L,msize=262144"
# The read-only trees do not change while the machine runs: the guest may
# cache them, which makes starting programs from them several times faster.
# The result share is read uncached, so each side sees the other's files.
cached="$ninep,ro,cache=loose"
r=/newroot
mount $cached hostroot $r || { echo "init: cannot mount the host root"; poweroff -f; }
mount -t tmpfs -o mode=1777 tmp $r/tmp
mount -t tmpfs -o mode=755 run $r/run
mkdir -p $r/run/noctil-vm
mount $ninep share $r/run/noctil-vm || { echo "init: cannot mount the result share"; poweroff -f; }
exec >$r/run/noctil-vm/boot.log 2>&1
. $r/run/noctil-vm/config
for t in "src:$NOCTIL_SOURCE_DIR" "build:$NOCTIL_BUILD_DIR"; do
  tag=${t%%:*}; path=${t#*:}
  # A tree that the host root already shows needs no mount of its own,
  # unless a tmpfs of the guest hides it.
  if [ ! -d "$r$path" ] || [ -z "$(ls -A "$r$path" 2>/dev/null)" ]; then
    mkdir -p "$r$path" 2>/dev/null
    mount $cached $tag "$r$path" || echo "init: cannot mount $tag at $path"
  fi
done
mount -t proc proc $r/proc
mount -t sysfs sys $r/sys
mount -t devtmpfs dev $r/dev
mkdir -p $r/dev/pts $r/dev/shm
mount -t devpts devpts $r/dev/pts
mount -t tmpfs -o mode=1777 shm $r/dev/shm
cp /agent.sh $r/run/agent.sh
hostname noctil-vm
exec chroot $r /bin/sh /run/agent.sh
