#!/bin/bash
# What multicast saves the source: a terminal shares a moving screen (the
# test painter's bars and clock) on a bridged network of namespaces (a
# switch without IGMP snooping); 1, 10 and 30 receivers in another
# namespace take it by multicast (bench/multicast/mcastcount.py) and then,
# in the same run, over RTSP/TCP (bench/sharing/rtpcount.py), neither of
# them decoding. Prints for each: the source's outbound Mbit/s (its network
# interface's own count), each receiver's access units per second (lowest
# and mean), and the time from PLAY to the first keyframe; then the ratios
# 30 receivers : 1 for both roads. Then a terminal in a third namespace is
# told to show the source (bench/viewer's tavlo-bench-firstpicture, median
# of TRIES): show -> first picture over TCP (no flag), by multicast, and by
# multicast behind a switch port that passes none (the fallback). Ends with
# the load average.
#
#   bench/multicast/bench.sh <build dir> [seconds per figure] [tries]
#
# Needs tavlo, tavlo-test-painter and tavlo-bench-firstpicture in the build.
#
# Needs root (network namespaces); everything stays inside a private
# namespace of its own.
set -u
DEFAULT_SECS=10
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=$(cd "${1:-$HERE/../../build}" && pwd)
SECS=${2:-$DEFAULT_SECS}
TRIES=${3:-5}
[ "$(id -u)" = 0 ] || { echo "bench/multicast/bench.sh: needs root (network namespaces)" >&2; exit 1; }
if [ -z "${TAVLO_BENCH_NS:-}" ]; then
    exec env TAVLO_BENCH_NS=1 unshare -n bash "$0" "$BUILD" "$SECS" "$TRIES"
fi

PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT
WORK=$(mktemp -d)

# The switch, with an address of its own, and two hosts on it.
ip link set lo up
ip link add tvbr0 type bridge mcast_snooping 0
ip addr add 10.77.0.1/24 dev tvbr0
ip link set tvbr0 up
node() {  # node <n>: a namespace on port tvn<n> at 10.77.0.<n + 2>; prints its holder's pid
    unshare -n sleep 100000 >/dev/null 2>&1 & local pid=$!
    while [ "$(readlink /proc/$pid/ns/net)" = "$(readlink /proc/self/ns/net)" ]; do sleep 0.05; done
    ip link add "tvn$1" type veth peer name eth0 netns "$pid"
    ip link set "tvn$1" master tvbr0 up
    # A terminal's announcements to its "roomIp" (loopback) would reach its
    # own port as a stop: they go nowhere.
    nsenter -t "$pid" -n sh -c "ip link set lo up && ip addr add 10.77.0.$(($1 + 2))/24 dev eth0 &&
        ip link set eth0 up && ip route add 224.0.0.0/4 dev eth0 &&
        ip rule add pref 10 to 127.0.0.2 ipproto udp dport 55555 blackhole &&
        ip rule del pref 0 && ip rule add pref 100 lookup local"
    echo "$pid"
}
SRC=$(node 0); PIDS+=($SRC)
RCV=$(node 1); PIDS+=($RCV)
VIEW=$(node 2); PIDS+=($VIEW)
URL=rtsp://10.77.0.2:5000/cam_passby_chn0

display() {  # display <first number to try>: a private Xvfb with a tray; prints its name
    local n
    for n in $(seq "$1" -1 $(($1 - 20))); do
        [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] || break
    done
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 & PIDS+=($!)
    for i in $(seq 50); do DISPLAY=":$n" xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    DISPLAY=":$n" trayer --edge bottom --align left --widthtype request >/dev/null 2>&1 & PIDS+=($!)
    DISP=":$n"
}
display 180; export DISPLAY=$DISP
display 158; DISPV=$DISP

printf '{"roomIp":"127.0.0.2","teamNum":7}' > "$WORK/team.bin"
(cd "$WORK" && exec nsenter -t "$SRC" -n "$BUILD/tavlo" --quiet >"$WORK/tavlo.out" 2>"$WORK/tavlo.err") & PIDS+=($!)
for i in $(seq 600); do grep -q "Screen sharing: multicast to" "$WORK/tavlo.out" && break; sleep 0.1; done
grep "Screen sharing:" "$WORK/tavlo.out" || { cat "$WORK/tavlo.err"; exit 1; }
"$BUILD/tavlo-test-painter" clock moving >/dev/null & PAINTER=$!; PIDS+=($PAINTER)
sleep 1

echo "machine: $(nproc) cores, load at start: $(cut -d' ' -f1-3 /proc/loadavg); ${SECS} s per figure"
txbytes() { nsenter -t "$SRC" -n awk '/eth0:/ {sub(/.*:/, ""); print $9}' /proc/net/dev; }
# measure <label> <command...>: the receivers run in their namespace; the
# source's outbound rate is taken over SECS once they all play.
declare -A MBPS
measure() {
    local label=$1; shift
    nsenter -t "$RCV" -n "$@" --seconds $((SECS + 4)) --label "$label" --quiet >"$WORK/r.txt" & local r=$!
    sleep 3
    local a b; a=$(txbytes); sleep "$SECS"; b=$(txbytes)
    wait $r
    MBPS[$label]=$(awk -v a="$a" -v b="$b" -v s="$SECS" 'BEGIN {printf "%.2f", (b - a) * 8 / s / 1e6}')
    echo "$label: source sends ${MBPS[$label]} Mbit/s; $(cut -d' ' -f3- "$WORK/r.txt")"
}
for n in 1 10 30; do
    measure "multicast-$n" python3 "$HERE/mcastcount.py" --url "$URL" --clients "$n"
    measure "unicast-$n" python3 "$HERE/../sharing/rtpcount.py" --url "$URL" --clients "$n"
done
awk -v m1="${MBPS[multicast-1]}" -v m30="${MBPS[multicast-30]}" -v u1="${MBPS[unicast-1]}" \
    -v u30="${MBPS[unicast-30]}" 'BEGIN {
        printf "30 receivers cost the source %.2f x one by multicast, %.2f x one by unicast (TCP)\n",
            m30 / m1, u30 / u1 }'

# A terminal told to show the source; its first picture read from its display.
kill $PAINTER
"$BUILD/tavlo-test-painter" color 20c040 >/dev/null & PIDS+=($!)
mkdir -p "$WORK/viewer"
printf '{"roomIp":"127.0.0.2","teamNum":9}' > "$WORK/viewer/team.bin"
(cd "$WORK/viewer" && DISPLAY=$DISPV exec nsenter -t "$VIEW" -n "$BUILD/tavlo" --quiet >"$WORK/viewer.out" 2>&1) &
PIDS+=($!)
for i in $(seq 600); do grep -q "SendTo:" "$WORK/viewer.out" 2>/dev/null && break; sleep 0.1; done
first_picture() {  # first_picture <label> [--multicast]
    echo "$1: $(DISPLAY=$DISPV "$BUILD/tavlo-bench-firstpicture" ${2:-} 10.77.0.4 "$TRIES" 10.77.0.2 20c040 | tail -1)"
}
first_picture "show -> first picture over TCP (no flag)"
first_picture "show -> first picture by multicast" --multicast
ip link set dev tvn2 type bridge_slave mcast_flood off
first_picture "show -> first picture by multicast, none arriving (fallback)" --multicast
echo "fallback lines printed by the viewer: $(grep -c "Viewer: no multicast from" "$WORK/viewer.out")"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
