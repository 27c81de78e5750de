#!/bin/sh
# Glass-to-glass latency of the viewer: the painter draws the wall-clock time
# as black and white blocks on display 1, a terminal shares that screen, a
# viewer shows the stream on display 2, and tavlo-bench-clockgrab reads the
# blocks back from display 2. The same is measured with ffplay as the viewer.
#
#   bench/viewer/latency.sh <build dir> [seconds per viewer]
#
# Runs in a network namespace of its own (needs root); displays :64 and :65
# unless TAVLO_BENCH_DISPLAYS="N M" says otherwise. TAVLO_BENCH_BUSY=1 keeps
# one core busy with a shell loop (another process) while the viewers run.
set -eu
if [ -z "${TAVLO_BENCH_INNER:-}" ]; then
    exec env TAVLO_BENCH_INNER=1 unshare -n sh "$0" "$@"
fi
B=$(realpath "${1:-build}")
SECS=${2:-20}
set -- ${TAVLO_BENCH_DISPLAYS:-64 65}
D1=:$1
D2=:$2
URL=rtsp://127.0.0.1:5000/cam_passby_chn0
ip link set lo up
for d in $1 $2; do
    if [ -e /tmp/.X$d-lock ]; then
        echo "display :$d is in use; choose others with TAVLO_BENCH_DISPLAYS=\"N M\"" >&2
        exit 1
    fi
done

WORK=$(mktemp -d)
PIDS=""
cleanup() {
    for p in $PIDS; do kill "$p" 2>/dev/null || true; done
    sleep 1
    for p in $PIDS; do kill -9 "$p" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

Xvfb $D1 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 & PIDS="$PIDS $!"
Xvfb $D2 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 & PIDS="$PIDS $!"
sleep 2
DISPLAY=$D1 trayer --edge bottom --widthtype request >/dev/null 2>&1 & PIDS="$PIDS $!"
sleep 1
DISPLAY=$D1 "$B/tavlo-test-painter" clock > /dev/null & PIDS="$PIDS $!"
printf '{"roomIp":"127.0.0.2","teamNum":1}' > "$WORK/team.bin"
( cd "$WORK" && DISPLAY=$D1 exec "$B/tavlo" > /dev/null 2>&1 ) & PIDS="$PIDS $!"
sleep 5

if [ "${TAVLO_BENCH_BUSY:-0}" = 1 ]; then
    sh -c 'while :; do :; done' & PIDS="$PIDS $!"
    echo "one core kept busy by pid $!"
fi
echo "load before: $(cat /proc/loadavg) on $(nproc) cores"
export DISPLAY=$D2 LIBGL_ALWAYS_SOFTWARE=1

"$B/tavlo-bench-pull" "$URL" > /dev/null 2>&1 & V=$!
sleep 4
"$B/tavlo-bench-clockgrab" "tavlo viewer" "$SECS" || true
kill $V; wait $V 2>/dev/null || true
sleep 1

ffplay -loglevel quiet -fflags nobuffer -flags low_delay -an -fs "$URL" > /dev/null 2>&1 & V=$!
sleep 4
"$B/tavlo-bench-clockgrab" "ffplay -fflags nobuffer -flags low_delay" "$SECS" || true
kill $V; wait $V 2>/dev/null || true
sleep 1

ffplay -loglevel quiet -fflags nobuffer -flags low_delay -rtsp_transport tcp -an -fs "$URL" > /dev/null 2>&1 & V=$!
sleep 4
"$B/tavlo-bench-clockgrab" "ffplay -fflags nobuffer -flags low_delay -rtsp_transport tcp" "$SECS" || true
kill $V; wait $V 2>/dev/null || true
echo "load after: $(cat /proc/loadavg)"
