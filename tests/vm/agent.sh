# The guest's case agent: runs each script the host drops into the queue,
# one at a time, and leaves its output and exit status beside it.
box=/run/noctil-vm
. $box/config
export NOCTIL_SOURCE_DIR NOCTIL_BUILD_DIR NOCTIL_KERNEL_DIR NOCTIL_KERNEL_VERSION
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
. "$NOCTIL_SOURCE_DIR/tests/vm/end_case.sh"
# The host root is read-only: caches (fontconfig, Qt) live in the guest's tmpfs.
export HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
# The ports' drivers; each case may load more.
modprobe -d "$NOCTIL_KERNEL_DIR" parport_pc || echo "agent: parport_pc did not load"
modprobe -d "$NOCTIL_KERNEL_DIR" ppdev || echo "agent: ppdev did not load"
echo "$(uname -r), $(ls /dev/parport* /dev/ttyS0 2>/dev/null | tr '\n' ' ')" >$box/ready
while :; do
  for f in $box/q/*.sh; do
    [ -e "$f" ] || continue
    n=$(basename "$f" .sh)
    mv "$f" $box/out/$n.sh
    # In a session of its own, so that a case the host gave up on is ended
    # with everything it started.
    (cd /tmp && exec setsid sh $box/out/$n.sh) >$box/out/$n.log 2>&1 </dev/null &
    pid=$!
    while kill -0 $pid 2>/dev/null; do
      if [ -e $box/q/$n.cancel ]; then end_case $pid; kill -9 $pid 2>/dev/null; fi
      sleep 0.2
    done
    wait $pid
    rc=$?
    end_case $pid  # what the case left running
    echo $rc >$box/out/.$n.rc
    rm -f $box/q/$n.cancel
    mv $box/out/.$n.rc $box/out/$n.rc
  done
  if [ -e $box/q/halt ]; then
    dmesg >$box/dmesg.log 2>&1
    sync
    poweroff -f
  fi
  sleep 0.2
done
