#!/bin/sh
# Builds the Debian packages of one architecture from debian/ with dpkg-buildpackage (a
# cross build for i386 on an amd64 machine) and moves the library's package and its
# -dbgsym package into <out>. The build runs on a copy of the sources: dpkg-buildpackage
# writes into the source tree and leaves its packages in the tree's parent.
#   build-deb.sh <architecture> <out>
set -eu
arch=$1 out=$2
top=$(cd "$(dirname "$0")/.." && pwd)
version=$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)
work=$(mktemp -d "${TMPDIR:-/tmp}/nativesupport-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$work/nativesupport-$version
mkdir "$src"
cp -a "$top/CMakeLists.txt" "$top/cmake" "$top/src" "$top/packaging" "$top/debian" "$src/"
if ! (cd "$src" && dpkg-buildpackage -a"$arch" -b -us -uc -J"$(nproc)") > "$work/build.log" 2>&1; then
  cat "$work/build.log" >&2
  echo "build-deb: dpkg-buildpackage -a$arch failed" >&2
  exit 1
fi
mkdir -p "$out"
mv "$work"/libnativesupport-jni_"$version"_"$arch".deb "$work"/libnativesupport-jni-dbgsym_"$version"_"$arch".deb "$out"/
