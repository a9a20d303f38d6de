#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on Debian 12, as root.
# Safe to run again: it does nothing when every package is already there.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

# The full JREs (not only the headless ones) and GTK 3: the display suites show Swing
# windows, in the GTK look too, in the JVM of each ABI. Xephyr: an X server that turns its
# screen. g++-12-multilib builds the 32-bit trees; its metapackage g++-multilib would
# conflict with Debian's i386 cross toolchain (crossbuild-essential-i386), which builds the
# i386 package. GLib's i386 development files build the 32-bit emulator; GTK+ 2's used to
# bring them along.
AMD64_PKGS=(
  build-essential cmake pkg-config g++-12-multilib clang file binutils dpkg-dev
  libusb-1.0-0-dev libxcb1-dev libxcb-randr0-dev libx11-dev
  libgtest-dev googletest libumockdev-dev umockdev
  openjdk-17-jdk-headless openjdk-17-jre junit5
  xvfb xserver-xephyr xauth xfonts-base x11-xserver-utils qemu-user libgtk-3-0
  libclang-rt-14-dev
  libhidapi-dev gnuplot-nox linux-perf git
  debhelper lintian crossbuild-essential-i386 udev acl
)
I386_PKGS=(
  libc6-dev:i386 libusb-1.0-0-dev:i386 libx11-dev:i386 libumockdev0:i386 libglib2.0-dev:i386
  libxcb1:i386 libxcb-randr0:i386 openjdk-17-jre:i386 libgtk-3-0:i386
)
ALL_PKGS=("${AMD64_PKGS[@]}" "${I386_PKGS[@]}")
# umockdev's preload library for i386 processes. The i386 umockdev package cannot be
# installed beside the amd64 one (both ship the same tools), so only its library is
# unpacked, from Debian's own package, next to the other test dependencies.
I386_PRELOAD_DIR=/opt/nativesupport/umockdev-i386
I386_PRELOAD=$I386_PRELOAD_DIR/usr/lib/i386-linux-gnu/libumockdev-preload.so.0

unpack_i386_preload() {
  [ -e "$I386_PRELOAD" ] && return 0
  local tmp
  tmp=$(mktemp -d)
  (cd "$tmp" && apt-get download "umockdev:i386=$(dpkg-query -W -f='${Version}' umockdev)") || {
    echo "setup: ERROR: could not download umockdev:i386 (for its preload library)" >&2; exit 1; }
  mkdir -p "$I386_PRELOAD_DIR"
  dpkg-deb -x "$tmp"/umockdev_*_i386.deb "$I386_PRELOAD_DIR"
  rm -rf "$tmp"
}

missing() {
  local p
  for p in "${ALL_PKGS[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || echo "$p"
  done
}

if [ -z "$(missing)" ] && [ -e "$I386_PRELOAD" ]; then
  echo "setup: all packages present"
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

# A broken index of one suite (a mirror caught mid-sync) must not stop us while the
# packages still resolve from the others.
apt-get update || echo "setup: some package indexes failed to download; going on with the rest"

APT=(apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600)

if ! "${APT[@]}" "${ALL_PKGS[@]}"; then
  # The usual cause: an i386 index is missing or older than the amd64 one, so a
  # Multi-Arch: same library cannot be had at the version installed for amd64.
  # Prefer the versions both architectures share and bring the amd64 side to them.
  echo "setup: plain install failed; matching amd64 and i386 versions"
  prefs=$(mktemp)
  printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' > "$prefs"
  extra=()
  for _ in 1 2 3 4 5 6 7 8; do
    out=$("${APT[@]}" -s --allow-downgrades -o Dir::Etc::preferences="$prefs" \
            "${ALL_PKGS[@]}" "${extra[@]}" 2>&1) && break
    names=$(printf '%s\n' "$out" | grep -oE '[a-z0-9][a-z0-9.+-]*:i386 but (it is not|[^ ]+ is to be)' |
            sed 's/:i386.*//' | sort -u)
    [ -n "$names" ] || break
    added=0
    for n in $names; do
      v=$(apt-cache madison "$n:i386" 2>/dev/null | awk -F'|' 'NR==1{gsub(/ /,"",$2); print $2}')
      [ -n "$v" ] || continue
      case " ${extra[*]} " in *" $n:i386=$v "*) continue ;; esac
      apt-cache madison "$n" | awk -F'|' '{gsub(/ /,"",$2); print $2}' | grep -qxF "$v" || continue
      extra+=("$n:amd64=$v" "$n:i386=$v"); added=1
    done
    [ "$added" = 1 ] || break
  done
  "${APT[@]}" --allow-downgrades -o Dir::Etc::preferences="$prefs" "${ALL_PKGS[@]}" "${extra[@]}" || true
  rm -f "$prefs"
fi

left=$(missing)
if [ -n "$left" ]; then
  echo "setup: ERROR: these packages could not be installed:" >&2
  printf '  %s\n' $left >&2
  echo "setup: check 'apt-get install $left' for the reason (index errors above, version conflicts)." >&2
  exit 1
fi
unpack_i386_preload
echo "setup: all packages present"
