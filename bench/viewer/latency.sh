#!/bin/sh
# Glass-to-glass latency of the viewer beside the players a user would pick
# instead, in one run: the painter draws the wall-clock time as black and
# white blocks on display 1, a terminal shares that screen, a player shows the
# stream on display 2, and tavlo-bench-clockgrab reads the blocks back from
# display 2 (X reads every 2 ms). Players, one after another on the same
# stream:
#   - Tavlo's viewer (tavlo-bench-pull: the terminal's QPullThread), which
#     also prints how old the pictures are at each of its stages;
#   - a plain GStreamer player: rtspsrc latency=0 protocols=tcp !
#     rtph264depay ! avdec_h264 ! videoconvert ! ximagesink sync=false;
#   - ffplay -fflags nobuffer -flags low_delay -rtsp_transport tcp.
# Ends with the target: Tavlo's median <= the GStreamer player's median, and
# Tavlo's p90 <= 1.3 x Tavlo's median.
#
#   bench/viewer/latency.sh <build dir> [seconds per player]
#
# Runs in a network namespace of its own (needs root); displays :64 and :65
# unless TAVLO_BENCH_DISPLAYS="N M" says otherwise. TAVLO_BENCH_BUSY=1 keeps
# one core busy with a shell loop (another process) while the players run.
# TAVLO_BENCH_BEFORE=<another build dir> adds that build's viewer (its
# tavlo-bench-pull) as "tavlo viewer (before)", for a comparison in one run.
set -eu
. "$(dirname "$0")/common.sh"
B=$(realpath "${1:-build}")
SECS=${2:-20}
set -- ${TAVLO_BENCH_DISPLAYS:-64 65}
free_displays "$@"
D1=:$1
D2=:$2
URL=rtsp://127.0.0.1:5000/cam_passby_chn0

Xvfb $D1 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 & PIDS="$PIDS $!"
Xvfb $D2 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 & PIDS="$PIDS $!"
sleep 2
DISPLAY=$D1 trayer --edge bottom --widthtype request >/dev/null 2>&1 & PIDS="$PIDS $!"
sleep 1
DISPLAY=$D1 "$B/tavlo-test-painter" clock > /dev/null & PIDS="$PIDS $!"
# The host address is this namespace's own: its announcements would stop
# nothing (this terminal is never shown a stream) but go nowhere else.
printf '{"roomIp":"127.0.0.2","teamNum":1}' > "$WORK/team.bin"
( cd "$WORK" && DISPLAY=$D1 exec "$B/tavlo" --quiet > /dev/null 2>&1 ) & PIDS="$PIDS $!"
sleep 5

if [ "${TAVLO_BENCH_BUSY:-0}" = 1 ]; then
    sh -c 'while :; do :; done' & PIDS="$PIDS $!"
    echo "one core kept busy by pid $!"
fi
echo "load before: $(cat /proc/loadavg) on $(nproc) cores; $SECS s per player"
export DISPLAY=$D2 LIBGL_ALWAYS_SOFTWARE=1

# cputicks PID: the process's user and system time so far, in clock ticks.
cputicks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }

# measure LABEL OUTFILE COMMAND...: runs the player, reads its screen, and
# prints the player's CPU time per second while it was read.
measure() {
    label=$1
    out=$2
    shift 2
    "$@" > "$out" 2>/dev/null & V=$!
    sleep 4
    before=$(cputicks $V)
    "$B/tavlo-bench-clockgrab" "$label" "$SECS" | tee -a "$WORK/grabs" || true
    after=$(cputicks $V)
    echo "$label: CPU $(awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v s="$SECS" \
        'BEGIN { printf "%.2f", t / hz / s }') s/s"
    kill $V 2>/dev/null || true
    wait $V 2>/dev/null || true
    sleep 1
}

if [ -n "${TAVLO_BENCH_BEFORE:-}" ]; then
    measure "tavlo viewer (before)" /dev/null "$(realpath "$TAVLO_BENCH_BEFORE")/tavlo-bench-pull" "$URL"
fi
measure "tavlo viewer" "$WORK/stages" "$B/tavlo-bench-pull" "$URL"
measure "gstreamer player" /dev/null gst-launch-1.0 -q rtspsrc location="$URL" latency=0 protocols=tcp ! \
    rtph264depay ! avdec_h264 ! videoconvert ! ximagesink sync=false
measure "ffplay" /dev/null ffplay -loglevel quiet -fflags nobuffer -flags low_delay -rtsp_transport tcp -an -fs "$URL"
echo "load after: $(cat /proc/loadavg)"

echo "Tavlo's viewer, the pictures' age at each stage (ms since the painter drew them):"
sed 's/^/  /' "$WORK/stages"
# The target, from the clockgrab lines ("LABEL: N pictures ..., latency
# median M ms, p10 A, p90 P, ...").
awk '
    /^tavlo viewer:/ { for (i = 1; i <= NF; ++i) { if ($i == "median") tm = $(i + 1); if ($i == "p90") tp = $(i + 1) + 0 } }
    /^gstreamer player:/ { for (i = 1; i <= NF; ++i) if ($i == "median") gm = $(i + 1) }
    END {
        if (tm == "" || gm == "") { print "target: not measured (a player showed no pictures)"; exit }
        printf "target: median %d <= GStreamer median %d: %s; p90 %d <= 1.3 x median (%.0f): %s\n",
               tm, gm, (tm + 0 <= gm + 0) ? "met" : "missed", tp, 1.3 * tm, (tp <= 1.3 * tm) ? "met" : "missed"
    }' "$WORK/grabs"
