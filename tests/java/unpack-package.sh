#!/bin/sh
# Builds this tree's Debian package with cpack and unpacks it into <work>/root as dpkg
# installs it; checks its control fields, its file list and the library's debug file.
#   unpack-package.sh <CPackConfig.cmake> <work> <version> <architecture> <triplet>
set -eu
config=$1 work=$2 version=$3 arch=$4 triplet=$5
fail() { echo "package: $*" >&2; exit 1; }
rm -rf "$work"
cpack --config "$config" -B "$work/cpack"
deb=$(echo "$work"/cpack/libnativesupport-jni_"$version"_"$arch".deb)
dpkg-deb -I "$deb"
depends=$(dpkg-deb -f "$deb" Depends)
for p in libc6 libstdc++6 libusb-1.0-0; do
  echo "$depends" | grep -q "\\(^\\|, \\)$p (>= " || fail "Depends lacks $p: $depends"
done
[ "$(dpkg-deb -f "$deb" Recommends)" = "libxcb1, libxcb-randr0" ] || fail "XCB is not recommended"

dpkg-deb -x "$deb" "$work/root"
lib=usr/lib/$triplet/jni/libNativeSupport.so
id=$(readelf -n "$work/root/$lib" | sed -n 's/^ *Build ID: //p')
debug=usr/lib/debug/.build-id/$(echo "$id" | cut -c1-2)/$(echo "$id" | cut -c3-).debug
files=$(cd "$work/root" && find . -type f | sort | tr '\n' ' ')
expected="./$debug ./$lib ./usr/share/doc/libnativesupport-jni/README ./usr/share/doc/libnativesupport-jni/copyright "
[ "$files" = "$expected" ] || fail "files: $files, expected: $expected"
readelf -S "$work/root/$debug" | grep -q '\.debug_info' || fail "no DWARF in $debug"
readelf -S "$work/root/$lib" | grep -q '\.debug_info' && fail "$lib still carries DWARF"
readelf -S "$work/root/$lib" | grep -q '\.symtab' || fail "$lib lost its symbol table"
echo "package: $deb unpacked into $work/root"
