#!/bin/sh
# xvfb.sh start|stop DISPLAY PIDFILE: the X server of the display change suites.
# The screen starts large so that xrandr --fb can resize within it; -noreset keeps a
# resize when the last client leaves.
set -u
action=$1 display=$2 pidfile=$3
[ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null
rm -f "$pidfile"
[ "$action" = stop ] && exit 0
Xvfb "$display" -noreset -nolock -nolisten tcp -screen 0 1920x1200x24 >/dev/null 2>&1 </dev/null &
echo $! >"$pidfile"
for _ in $(seq 100); do
  # The output off: then the screen can also shrink below the size it started with.
  xrandr -display "$display" --fb 1920x1200 --output screen --off >/dev/null 2>&1 && exit 0
  sleep 0.1
done
echo "Xvfb did not come up on $display" >&2
exit 1
