#!/bin/sh
# Runs the tablet monitor for 3 s against its virtual tablet (a 0x08ca tablet whose
# start-up answers give firmware 02.16 and a range of 31999 by 19999) and checks what it
# shows: the identity, pen reports scaled by that range, a clean end and the picture.
# usage: check_tablet_monitor.sh <tablet-monitor launcher> <png to write>
launcher=$1
png=$2
rm -f "$png"
out=$("$launcher" --virtual --seconds 3 --png "$png" 2>&1)
status=$?
printf '%s\n' "$out"
fail() { echo "FAILED: $*"; exit 1; }
[ "$status" = 0 ] || fail "exit status $status"
expect() { printf '%s\n' "$out" | grep -qE "$1" || fail "no line matching: $1"; }
expect '^Connected 001/002-08ca-0010-00-00$'
expect '^  vendor 08ca  product 0010$'
expect '^  product name "Pen Tablet"  serial number "EMU0001"  firmware version "02\.16"$'
expect '^  X range 0\.\.31999  Y range 0\.\.19999$'
# the star's top point: the middle of X, 14% of Y, pressed lightly at first
expect '^001/002-08ca-0010-00-00 pen down  x 1[56][0-9]{3} \( *(49|50)\.[0-9]%\)  y  2[0-9]{3} \( *1[0-9]\.[0-9]%\)  pressure +[0-9]+ \( *[0-9.]+%\)$'
expect '^Disconnected 001/002-08ca-0010-00-00: [0-9]{3,} pen reports$'
expect '^Unsubscribed\.$'
expect '^All library threads have ended\.$'
[ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "no PNG at $png"
echo "tablet monitor checked"
