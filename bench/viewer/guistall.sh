#!/bin/sh
# The GUI thread's longest stall while a terminal is sent a burst of show and
# stop commands (200, one every 50 ms, alternating between two sources):
# tavlo-bench-guistall runs the terminal's main window with a 10 ms timer on
# its GUI thread and prints how late the ticks came. The sources are
# tavlo-test-rtsp-peer streams (1920x1080) in a second network namespace.
#
#   bench/viewer/guistall.sh <build dir> [datagrams]
#
# Runs in a network namespace of its own (needs root); display :68 unless
# TAVLO_BENCH_DISPLAYS=N says otherwise.
set -eu
. "$(dirname "$0")/common.sh"
B=$(realpath "${1:-build}")
N=${2:-200}
set -- ${TAVLO_BENCH_DISPLAYS:-68}
free_displays "$1"
D=:$1
# The terminal's host address is its own; its announcements must not come
# back to it as stops.
ip rule add pref 10 to 127.0.0.2 ipproto udp dport 55555 blackhole
ip rule del pref 0
ip rule add pref 100 lookup local

# The sources, behind a veth pair.
veth_ns tvbstall 10.213.0.1 10.213.0.2 10.213.0.3
NS=$NSPID
nsenter -t $NS -n "$B/tavlo-test-rtsp-peer" --address 10.213.0.2 --color e02020 --size 1920x1080 > /dev/null &
PIDS="$PIDS $!"
nsenter -t $NS -n "$B/tavlo-test-rtsp-peer" --address 10.213.0.3 --color 2020e0 --size 1920x1080 > /dev/null &
PIDS="$PIDS $!"

Xvfb $D -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 & PIDS="$PIDS $!"
sleep 2
printf '{"roomIp":"127.0.0.2","teamNum":1}' > "$WORK/team.bin"
echo "load before: $(cat /proc/loadavg) on $(nproc) cores"
( cd "$WORK" && DISPLAY=$D LIBGL_ALWAYS_SOFTWARE=1 "$B/tavlo-bench-guistall" 10.213.0.2 10.213.0.3 "$N" ) | grep -v "^SendTo: "
echo "load after: $(cat /proc/loadavg)"
