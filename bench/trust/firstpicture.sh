#!/bin/sh
# Show -> first picture with signed commands beside plain ones, in one run:
# a terminal on a private Xvfb is told to show a GStreamer RTSP source (H.264
# 1920x1080, 30 fps, keyframe every 10 frames, in a second network
# namespace) by tavlo-bench-firstpicture, which times from the command to
# the picture on the screen (median of TRIES). The terminal runs in turns
# without a key (plain JSON) and with the classroom key in its team.bin
# (each command signed, the clock started before signing), ROUNDS rounds
# each (default 3); the summary takes every try of a mode together.
#
#   bench/trust/firstpicture.sh <build dir> [tries] [rounds]
#
# Runs in a network namespace of its own (needs root); display :68 unless
# TAVLO_BENCH_DISPLAY says otherwise.
set -eu
if [ -z "${TAVLO_BENCH_INNER:-}" ]; then
    exec env TAVLO_BENCH_INNER=1 unshare -n sh "$0" "$@"
fi
B=$(realpath "${1:-build}")
TRIES=${2:-7}
ROUNDS=${3:-3}
N=${TAVLO_BENCH_DISPLAY:-68}
D=:$N
if [ -e /tmp/.X$N-lock ]; then
    echo "display $D is in use; choose another with TAVLO_BENCH_DISPLAY=N" >&2
    exit 1
fi
ip link set lo up

WORK=$(mktemp -d)
PIDS=""
TERMINAL=""
cleanup() {
    for p in $TERMINAL $PIDS; do kill "$p" 2>/dev/null || true; done
    sleep 1
    for p in $TERMINAL $PIDS; do kill -9 "$p" 2>/dev/null || true; done
    ip link del tvbtpeer0 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

# The source's namespace, behind a veth pair.
unshare -n sleep 100000 & NS=$!
PIDS="$PIDS $NS"
sleep 0.5
ip link add tvbtpeer0 type veth peer name tvbtpeer1 netns $NS
ip addr add 10.213.0.1/24 dev tvbtpeer0
ip link set tvbtpeer0 up
nsenter -t $NS -n ip link set lo up
nsenter -t $NS -n ip addr add 10.213.0.2/24 dev tvbtpeer1
nsenter -t $NS -n ip link set tvbtpeer1 up
nsenter -t $NS -n "$B/tavlo-test-rtsp-peer" --address 10.213.0.2 --color e02020 --size 1920x1080 \
    --key-interval 10 > /dev/null & PIDS="$PIDS $!"

Xvfb $D -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 & PIDS="$PIDS $!"
sleep 2
DISPLAY=$D trayer --edge bottom --widthtype request >/dev/null 2>&1 & PIDS="$PIDS $!"
sleep 1

# The classroom key, as a console makes it; the terminal trusts it when
# signing is on. The tool then reads the nonce on the terminal's host
# address (127.0.0.9); without a key the announcements go to an address of
# the source's link that nobody holds, as they would to an absent host.
KEYFILE="$WORK/config/tavlo/classroom-key.json"
KEY=$(XDG_CONFIG_HOME="$WORK/config" "$B/tavlo-console" --print-key 2>/dev/null | head -n 1)
mkdir "$WORK/off" "$WORK/on"
printf '{"roomIp":"10.213.0.9","teamNum":1}' > "$WORK/off/team.bin"
printf '{"roomIp":"127.0.0.9","teamNum":1,"hostKey":"%s"}' "$KEY" > "$WORK/on/team.bin"

# measure off|on: a terminal in that folder, then the tool's tries, each
# kept in the results as "off|on MS".
measure() {
    ( cd "$WORK/$1" && DISPLAY=$D LIBGL_ALWAYS_SOFTWARE=1 exec "$B/tavlo" --quiet > "$WORK/$1.out" 2>&1 ) &
    TERMINAL=$!
    sleep 5   # the splash gone
    mode=$1
    if [ "$1" = on ]; then set -- --key "$KEYFILE" --host 127.0.0.9; else set --; fi
    if ! DISPLAY=$D "$B/tavlo-bench-firstpicture" 127.0.0.1 "$TRIES" 10.213.0.2 e02020 "$@" > "$WORK/try.out"; then
        cat "$WORK/try.out"
        echo "the $mode terminal said:" >&2
        grep -v '^SendTo' "$WORK/$mode.out" | tail -n 20 >&2
        exit 1
    fi
    cat "$WORK/try.out"
    sed -n "s/^  try [0-9]*: \([0-9]*\) ms$/$mode \1/p" "$WORK/try.out" >> "$WORK/results"
    kill $TERMINAL
    wait $TERMINAL 2>/dev/null || true
    TERMINAL=""
}

echo "load before: $(cat /proc/loadavg) on $(nproc) cores"
for round in $(seq "$ROUNDS"); do
    echo "round $round, signing off (plain JSON):"
    measure off
    echo "round $round, signing on (signed commands):"
    measure on
done
echo "load after: $(cat /proc/loadavg)"
grep -q "Commands must be signed" "$WORK/on.out" || { echo "the keyed terminal did not trust the key" >&2; exit 1; }
for mode in off on; do
    sed -n "s/^$mode //p" "$WORK/results" | sort -n > "$WORK/$mode.sorted"
done
summary() {  # mode label
    awk -v label="$2" '{ t[NR] = $1; s += $1 }
        END { printf "%s: median %d ms, mean %.0f, min %d, max %d (%d tries)\n", label, t[int((NR + 1) / 2)], s / NR,
                     t[1], t[NR], NR }' "$WORK/$1.sorted"
}
summary off "signing off"
summary on "signing on "
echo "added by signing (difference of the medians): $(( $(awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }' \
    "$WORK/on.sorted") - $(awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }' "$WORK/off.sorted") )) ms"
