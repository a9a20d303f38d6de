#!/bin/sh
# The part of isolate.sh that runs inside the new mount namespace.
#   inside.sh <scratch directory> <command> [args...]
set -eu
scratch=$1
shift
mount -t tmpfs nativesupport-scratch "$scratch"

# /dev and /run become overlays of themselves, their changes kept in the scratch tmpfs. The
# mounts below them (/dev/pts, /dev/shm, /run/lock...) are bound again on top.
overlay() {
  top=$1
  mkdir -p "$scratch/$top.lower" "$scratch/$top.upper" "$scratch/$top.work" || return 1
  mount --rbind "/$top" "$scratch/$top.lower" || return 1
  submounts=$(awk -v top="/$top/" 'index($5, top) == 1 { print $5 }' /proc/self/mountinfo | sort -u)
  mount -t overlay "nativesupport-$top" \
    -o "lowerdir=/$top,upperdir=$scratch/$top.upper,workdir=$scratch/$top.work" "/$top" || return 1
  for m in $submounts; do
    [ -d "$m" ] || continue
    mount --rbind "$scratch/$top.lower${m#/$top}" "$m" 2>/dev/null || true
  done
}

# Where an overlay cannot be had (a user namespace cannot take /dev, with its locked mounts,
# as a lower layer): /dev and /run are rebuilt on a tmpfs from binds of each entry, but for
# the log socket and the udev database, which are left out.
replica() {
  top=$1
  mkdir -p "$scratch/$top"
  for entry in "/$top"/* "/$top"/.[!.]*; do
    [ -e "$entry" ] || [ -L "$entry" ] || continue
    case "$entry" in /dev/log | /dev/.udev | /run/udev) continue ;; esac
    copy="$scratch/$top/${entry##*/}"
    if [ -L "$entry" ]; then
      ln -s "$(readlink "$entry")" "$copy"
    elif [ -d "$entry" ]; then
      mkdir "$copy" && mount --rbind "$entry" "$copy"
    else
      : > "$copy" && mount --bind "$entry" "$copy"
    fi
  done
  mount --rbind "$scratch/$top" "/$top"
}

for top in dev run; do
  if overlay "$top" 2>/dev/null; then
    # Nothing of the machine's log socket or udev database is seen (the overlay hides
    # them), and whatever the suite puts there is its own.
    rm -rf "/$top/log" "/$top/.udev" "/$top/udev"
  else
    replica "$top"
  fi
done
exec "$@"
