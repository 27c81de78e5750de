#!/bin/bash
# What screen sharing costs: Tavlo's CPU seconds per second with no client,
# with one client on a still screen and on a moving one (the test painter's
# bars and clock), each beside an ffmpeg -f x11grab + libx264 encode at the
# same settings (veryfast, zerolatency, crf 23, 4 Mbit/s max rate, keyframe
# interval 10) on the same screen in the same run; then 30 clients that join
# within the same second (bench/sharing/rtpcount.py, no decoding): time to
# each one's first access unit, frames/s each, and Tavlo's CPU against its
# one-client CPU.
#
#   bench/sharing/cost.sh <build dir> [seconds per figure]
#
# Runs in a private network namespace (only loopback) when started as root.
set -u
DEFAULT_SECS=10
. "$(dirname "$0")/common.sh" "$0" "$@" -- $(seq 79 -1 70) $(seq 240 279)
echo "machine: $(nproc) cores, load at start: $(cut -d' ' -f1-3 /proc/loadavg); ${SECS} s per figure"

HZ=$(getconf CLK_TCK)
cputicks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
cpu_over() {  # cpu_over <pid> <seconds>: CPU seconds per second of that process
    local a b; a=$(cputicks "$1"); sleep "$2"; b=$(cputicks "$1")
    awk -v a="$a" -v b="$b" -v hz="$HZ" -v s="$2" 'BEGIN {printf "%.3f", (b - a) / hz / s}'
}
ffmpeg_cpu() {  # ffmpeg_cpu <label>: an x11grab + libx264 encode of the same screen
    ffmpeg -v error -f x11grab -framerate 30 -video_size 1920x1080 -i "$DISP" \
        -c:v libx264 -preset veryfast -tune zerolatency -crf 23 -maxrate 4M -bufsize 4M -g 10 -bf 0 \
        -pix_fmt yuv420p -f null - >/dev/null 2>&1 & local ff=$!
    sleep 2
    echo "ffmpeg x11grab+libx264 cpu ($1): $(cpu_over $ff "$SECS") s/s"
    kill $ff; wait $ff 2>/dev/null
}

printf '{"roomIp":"127.0.0.2","teamNum":1}' > "$WORK/team.bin"
(cd "$WORK" && exec "$BUILD/tavlo" --quiet >/dev/null 2>"$WORK/tavlo.err") & TAVLO=$!; PIDS+=($TAVLO)
wait_for_port 5000 || { cat "$WORK/tavlo.err"; exit 1; }
sleep 1

echo "tavlo cpu (no client, still screen): $(cpu_over $TAVLO "$SECS") s/s"

python3 "$HERE/rtpcount.py" --seconds $((SECS + 4)) --label "tavlo 1 client (still)" > "$WORK/c1.txt" & R=$!
sleep 3
echo "tavlo cpu (1 client, still screen): $(cpu_over $TAVLO "$SECS") s/s"
wait $R; cat "$WORK/c1.txt"
ffmpeg_cpu "still screen"

"$BUILD/tavlo-test-painter" clock moving >/dev/null & PAINT=$!; PIDS+=($PAINT)
sleep 1
python3 "$HERE/rtpcount.py" --seconds $((SECS + 4)) --label "tavlo 1 client (moving)" > "$WORK/c1m.txt" & R=$!
sleep 3
C1=$(cpu_over $TAVLO "$SECS")
echo "tavlo cpu (1 client, moving screen): $C1 s/s"
wait $R; cat "$WORK/c1m.txt"
ffmpeg_cpu "moving screen"

python3 "$HERE/rtpcount.py" --clients 30 --seconds $((SECS + 4)) --label "tavlo 30 clients (moving)" --quiet \
    > "$WORK/c30.txt" & R=$!
sleep 3
C30=$(cpu_over $TAVLO "$SECS")
echo "tavlo cpu (30 clients, moving screen): $C30 s/s"
wait $R; cat "$WORK/c30.txt"
awk -v a="$C1" -v b="$C30" 'BEGIN { if (a > 0) printf "ratio tavlo cpu 30 clients / 1 client: %.2f\n", b / a }'
echo "load at end: $(cut -d' ' -f1-3 /proc/loadavg)"
