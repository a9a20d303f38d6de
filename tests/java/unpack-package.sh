#!/bin/sh
# Builds this architecture's Debian packages from debian/ as scripts/package.sh does, has
# lintian check them, and unpacks them into <work>/root and <work>/dbgsym as dpkg installs
# them; checks their control fields, their files and where the debug information went.
#   unpack-package.sh <work> <version> <architecture> <triplet>
set -eu
work=$1 version=$2 arch=$3 triplet=$4
top=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "package: $*" >&2; exit 1; }
rm -rf "$work"
sh "$top/packaging/build-deb.sh" "$arch" "$work"
deb=$work/libnativesupport-jni_${version}_$arch.deb
dbgsym=$work/libnativesupport-jni-dbgsym_${version}_$arch.deb
lintian --fail-on error,warning "$deb" "$dbgsym" || fail "lintian reports the above"
dpkg-deb -I "$deb"
for package in "$deb" "$dbgsym"; do
  [ "$(dpkg-deb -f "$package" Multi-Arch)" = same ] || fail "$package is not Multi-Arch: same"
done
depends=$(dpkg-deb -f "$deb" Depends)
for p in libc6 libstdc++6 libusb-1.0-0; do
  echo "$depends" | grep -q "\\(^\\|, \\)$p (>= " || fail "Depends lacks $p: $depends"
done
[ "$(dpkg-deb -f "$deb" Recommends)" = "libxcb-randr0, libxcb1" ] || fail "Recommends: $(dpkg-deb -f "$deb" Recommends)"
[ -z "$(dpkg-deb -f "$deb" Suggests)" ] || fail "Suggests: $(dpkg-deb -f "$deb" Suggests)"

dpkg-deb -x "$deb" "$work/root"
dpkg-deb -x "$dbgsym" "$work/dbgsym"
lib=usr/lib/$triplet/jni/libNativeSupport.so
doc=usr/share/doc/libnativesupport-jni
files=$(cd "$work/root" && find . -type f | LC_ALL=C sort | tr '\n' ' ')
expected=$(printf './%s\n' "$lib" usr/lib/udev/rules.d/60-libnativesupport-jni.rules "$doc/README" "$doc/changelog.gz" \
  "$doc/copyright" | LC_ALL=C sort | tr '\n' ' ')
[ "$files" = "$expected" ] || fail "files: $files, expected: $expected"
id=$(readelf -n "$work/root/$lib" | sed -n 's/^ *Build ID: //p')
debug=usr/lib/debug/.build-id/$(echo "$id" | cut -c1-2)/$(echo "$id" | cut -c3-).debug
[ -f "$work/dbgsym/$debug" ] || fail "the -dbgsym package has no $debug"
readelf -S "$work/dbgsym/$debug" | grep -q '\.debug_info' || fail "no DWARF in $debug"
readelf -S "$work/root/$lib" | grep -q '\.debug_info' && fail "$lib still carries DWARF"
readelf --string-dump=.gnu_debuglink "$work/root/$lib" | grep -q "$(echo "$id" | cut -c3-).debug" ||
  fail "$lib has no debug link to its debug file"
echo "package: $deb and its -dbgsym unpacked into $work"
