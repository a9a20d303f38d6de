#!/bin/sh
# The package's postinst and postrm where udev runs, where it is not installed, where it
# is installed but does not run, and in a chroot. "udev" is the machine's own udevd in
# namespaces of its own (user, mount, network, process): it sees a made-up /sys with one
# USB device and one input device, gets no uevent of the machine, and goes with the test.
#   maintainer-scripts.sh <libnativesupport-jni .deb>
set -eu
deb=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/nativesupport-scripts.XXXXXX")
trap 'rm -rf "$work"' EXIT
dpkg-deb -e "$deb" "$work/control"
unshare --user --map-root-user --mount --net --pid --fork --mount-proc --propagation private \
  sh "$(dirname "$0")/maintainer-scripts-inside.sh" "$work"
