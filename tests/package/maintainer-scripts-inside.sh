#!/bin/sh
# The part of maintainer-scripts.sh that runs in its namespaces, as their root.
#   maintainer-scripts-inside.sh <work>
set -eu
work=$1
fail() { echo "maintainer scripts: $*" >&2; exit 1; }

# /sys: a USB device and an input device, each with the uevent file udevadm trigger writes.
sys=$work/sys
usb=devices/nsemu/b001/a002/1-2
input=devices/virtual/input/input9
mkdir -p "$sys/$usb" "$sys/$input" "$sys/bus/usb/devices" "$sys/class/input"
printf 'SUBSYSTEM=usb\nDEVTYPE=usb_device\n' > "$sys/$usb/uevent"
printf '08ca\n' > "$sys/$usb/idVendor"
printf 'SUBSYSTEM=input\n' > "$sys/$input/uevent"
ln -s ../../../../../bus/usb "$sys/$usb/subsystem"
ln -s ../../../../class/input "$sys/$input/subsystem"
ln -s "../../../$usb" "$sys/bus/usb/devices/1-2"
ln -s "../../$input" "$sys/class/input/input9"
mount --rbind "$sys" /sys
mount -t tmpfs scripts /run
export SYSTEMD_DEVICE_VERIFY_SYSFS=0   # this /sys is no sysfs

# Runs a maintainer script; it must succeed and say nothing.
run() {
  out=$("$@" 2>&1) || fail "$* failed: $out"
  [ -z "$out" ] || fail "$* said: $out"
}
# Whether udev was told to look at each kind of device again since the last reset.
triggered() { head -c 6 "/sys/$1/uevent" | grep -qx change; }
reset() { printf 'SUBSYSTEM=usb\nDEVTYPE=usb_device\n' > "/sys/$usb/uevent"; }
nothing_done() {
  ! triggered "$usb" && ! triggered "$input" || fail "$1: udev was triggered"
  ! grep -q 'control message (RELOAD)' "$work/udevd.log" 2> /dev/null || fail "$1: udev's rules were reloaded"
}
scripts=$work/control

# A root without udev: no udevadm at all.
mkdir "$work/bin"
for tool in sh; do ln -s "$(command -v "$tool")" "$work/bin/$tool"; done
run env PATH="$work/bin" sh "$scripts/postinst" configure ''
run env PATH="$work/bin" sh "$scripts/postrm" remove
nothing_done "without udevadm"

# udev installed but not running.
run sh "$scripts/postinst" configure ''
run sh "$scripts/postrm" remove
nothing_done "without udevd"

# udev runs.
/lib/systemd/systemd-udevd --daemon --debug --resolve-names=never > "$work/udevd.log" 2>&1
for _ in $(seq 100); do udevadm control --ping > /dev/null 2>&1 && break; sleep 0.1; done
udevadm control --ping || fail "udevd did not start: $(cat "$work/udevd.log")"

# ...seen from a chroot, which must leave it alone.
root=$work/root
mkdir -p "$root/usr" "$root/dev" "$root/proc" "$root/run" "$root/sys" "$root/scripts"
for link in bin lib lib64 sbin; do [ -e "/$link" ] && ln -s "usr/$link" "$root/$link"; done
mount --rbind /usr "$root/usr"
mount --rbind /dev "$root/dev"
mount --rbind /run "$root/run"
mount --rbind /sys "$root/sys"
mount -t proc proc "$root/proc"
cp "$scripts/postinst" "$scripts/postrm" "$root/scripts/"
run chroot "$root" sh /scripts/postinst configure ''
run chroot "$root" sh /scripts/postrm remove
nothing_done "in a chroot"

# ...and the package is installed or removed on the machine itself.
run sh "$scripts/postinst" configure ''
triggered "$usb" || fail "postinst did not trigger the usb subsystem"
! triggered "$input" || fail "postinst triggered more than the usb subsystem"
[ "$(grep -c 'control message (RELOAD)' "$work/udevd.log")" = 1 ] || fail "postinst did not reload udev's rules"
reset
run sh "$scripts/postrm" purge
run sh "$scripts/postrm" upgrade 1.0
! triggered "$usb" || fail "postrm triggered udev on purge or upgrade"
run sh "$scripts/postrm" remove
triggered "$usb" || fail "postrm remove did not trigger the usb subsystem"
[ "$(grep -c 'control message (RELOAD)' "$work/udevd.log")" = 2 ] || fail "postrm remove did not reload udev's rules"
udevadm control --exit
echo "maintainer scripts: quiet without udevadm, without udevd and in a chroot; where udev runs, postinst and postrm remove reload its rules and trigger the usb subsystem"
