#!/bin/sh
# Show -> first picture and switch times of a terminal's viewer, read back
# from its display by tavlo-bench-firstpicture (median of TRIES each):
#   - a GStreamer RTSP server (H.264 1920x1080, 30 fps, keyframe every 10
#     frames) in a second network namespace: show from the desktop, and a
#     switch from another such server;
#   - a Tavlo terminal sharing its screen, in a third namespace: show from
#     the desktop, and a switch from a GStreamer server to it.
#
#   bench/viewer/firstpicture.sh <build dir> [tries]
#
# Runs in a network namespace of its own (needs root); displays :66 and :67
# unless TAVLO_BENCH_DISPLAYS="N M" says otherwise.
set -eu
. "$(dirname "$0")/common.sh"
B=$(realpath "${1:-build}")
TRIES=${2:-7}
set -- ${TAVLO_BENCH_DISPLAYS:-66 67}
free_displays "$@"
DV=:$1   # the viewing terminal
DS=:$2   # the sharing terminal

veth_ns tvbpeer 10.213.0.1 10.213.0.2 10.213.0.3; PEERNS=$NSPID
veth_ns tvbsrc 10.214.0.1 10.214.0.2; SRCNS=$NSPID

for d in $DV $DS; do
    Xvfb $d -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 & PIDS="$PIDS $!"
done
sleep 2
for d in $DV $DS; do
    DISPLAY=$d trayer --edge bottom --widthtype request >/dev/null 2>&1 & PIDS="$PIDS $!"
done
sleep 1

# GStreamer sources: red at .2, blue at .3.
for a in 10.213.0.2:e02020 10.213.0.3:2020e0; do
    nsenter -t $PEERNS -n "$B/tavlo-test-rtsp-peer" --address "${a%%:*}" --color "${a#*:}" --size 1920x1080 \
        --key-interval 10 > /dev/null & PIDS="$PIDS $!"
done
# The Tavlo source: a terminal sharing a green screen. Its host address
# leads nowhere, so its announcements stop no one.
mkdir "$WORK/src" "$WORK/view"
printf '{"roomIp":"10.214.0.9","teamNum":3}' > "$WORK/src/team.bin"
DISPLAY=$DS xsetroot -solid '#20e020'
( cd "$WORK/src" && DISPLAY=$DS LIBGL_ALWAYS_SOFTWARE=1 exec nsenter -t $SRCNS -n "$B/tavlo" > /dev/null 2>&1 ) &
PIDS="$PIDS $!"
# The viewing terminal.
printf '{"roomIp":"10.213.0.9","teamNum":1}' > "$WORK/view/team.bin"
( cd "$WORK/view" && DISPLAY=$DV LIBGL_ALWAYS_SOFTWARE=1 exec "$B/tavlo" > "$WORK/view.out" 2>&1 ) & PIDS="$PIDS $!"
sleep 6   # both splashes gone, the sharing terminal serving

echo "load before: $(cat /proc/loadavg) on $(nproc) cores"
export DISPLAY=$DV
echo "GStreamer source, show from the desktop:"
"$B/tavlo-bench-firstpicture" 127.0.0.1 "$TRIES" 10.213.0.2 e02020
echo "GStreamer source, switch from another GStreamer source:"
"$B/tavlo-bench-firstpicture" 127.0.0.1 "$TRIES" 10.213.0.3 2020e0 10.213.0.2 e02020
echo "Tavlo source, show from the desktop:"
"$B/tavlo-bench-firstpicture" 127.0.0.1 "$TRIES" 10.214.0.2 20e020
echo "Tavlo source, switch from a GStreamer source:"
"$B/tavlo-bench-firstpicture" 127.0.0.1 "$TRIES" 10.214.0.2 20e020 10.213.0.2 e02020
echo "load after: $(cat /proc/loadavg)"
