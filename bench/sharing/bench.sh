#!/bin/bash
# Screen-sharing benchmark: Tavlo against a GStreamer-only RTSP server
# (tavlo-bench-gstserver: ximagesrc ! x264enc tune=zerolatency ! rtph264pay)
# and an ffmpeg x11grab + libx264 pipeline at the same settings (1920x1080,
# 30 fps, veryfast, zerolatency, crf 23 / 4 Mbit/s, keyframe interval 10),
# on one private Xvfb showing moving content
# (bars across the screen and a clock pattern repainted every 4 ms).
# Prints, for each: CPU seconds per second of streaming, frames per second a
# client receives, and the capture-to-client latency (the clock painted on
# the screen, read back from the client's decoded frames); for Tavlo also
# with 8 clients at once.
#
#   bench/sharing/bench.sh <build dir> [seconds per measurement]
#
# Runs in a private network namespace (only loopback) when started as root.
# The machine is shared: the figures are noisy; the load is printed.
set -u
DEFAULT_SECS=15
. "$(dirname "$0")/common.sh" "$0" "$@" -- $(seq 59 -1 50) $(seq 160 199)
"$BUILD/tavlo-test-painter" clock moving >/dev/null & PIDS+=($!)
sleep 1

cputicks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
HZ=$(getconf CLK_TCK)
# cpu_over <pid> <seconds>: CPU seconds per second of that process.
cpu_over() {
    local a b; a=$(cputicks "$1"); sleep "$2"; b=$(cputicks "$1")
    awk -v a="$a" -v b="$b" -v hz="$HZ" -v s="$2" 'BEGIN {printf "%.3f", (b - a) / hz / s}'
}
# reader <label> <gst source elements...>: decodes with GStreamer (no
# jitter buffer, one decoder thread, no clock sync) and reads the clock from
# every frame. The ffmpeg command-line client buffers several frames of its
# own, which would hide what the server does.
reader() {
    local label=$1; shift
    gst-launch-1.0 -q "$@" ! avdec_h264 max-threads=1 ! videocrop right=896 bottom=1016 ! videoconvert ! \
        video/x-raw,format=GRAY8 ! fdsink sync=false 2>/dev/null |
        python3 "$HERE/clockreader.py" --label "$label" --skip 3 --seconds "$SECS"
}
rtsp() {  # rtsp <tcp|udp>: source elements for Tavlo's stream
    echo rtspsrc location=rtsp://127.0.0.1:5000/cam_passby_chn0 latency=0 protocols=$1 ! rtph264depay
}

echo "machine: $(nproc) cores, load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "measurement: ${SECS} s per figure, display $DISP"

# ---- Tavlo
printf '{"roomIp":"127.0.0.2","teamNum":1}' > "$WORK/team.bin"
(cd "$WORK" && exec "$BUILD/tavlo" --quiet >/dev/null 2>"$WORK/tavlo.err") & TAVLO=$!; PIDS+=($TAVLO)
wait_for_port 5000 || { cat "$WORK/tavlo.err"; exit 1; }
sleep 1
URL=rtsp://127.0.0.1:5000/cam_passby_chn0
reader "tavlo 1 client (udp)" $(rtsp udp) > "$WORK/t0.txt"
cat "$WORK/t0.txt"
reader "tavlo 1 client (tcp)" $(rtsp tcp) > "$WORK/t1.txt" & R=$!
sleep 3; C1=$(cpu_over "$TAVLO" "$((SECS - 2))"); wait $R
cat "$WORK/t1.txt"
echo "tavlo cpu (1 client): $C1 s/s"

# 8 clients: one reads the clock, seven count what they receive.
EXTRA=()
for i in 1 2 3 4 5 6 7; do
    ffmpeg -v error -rtsp_transport tcp -i "$URL" -c copy -f null -progress "$WORK/p$i.txt" - \
        >/dev/null 2>&1 & EXTRA+=($!)
done
sleep 2
reader "tavlo 8 clients, reader (tcp)" $(rtsp tcp) > "$WORK/t8.txt" & R=$!
for i in 1 2 3 4 5 6 7; do echo 0 > "$WORK/f0_$i"; done
sleep 3
for i in 1 2 3 4 5 6 7; do grep '^frame=' "$WORK/p$i.txt" | tail -1 | cut -d= -f2 > "$WORK/f0_$i"; done
C8=$(cpu_over "$TAVLO" "$((SECS - 2))")
for i in 1 2 3 4 5 6 7; do grep '^frame=' "$WORK/p$i.txt" | tail -1 | cut -d= -f2 > "$WORK/f1_$i"; done
wait $R
cat "$WORK/t8.txt"
for i in 1 2 3 4 5 6 7; do
    awk -v a="$(cat "$WORK/f0_$i")" -v b="$(cat "$WORK/f1_$i")" -v s="$((SECS - 2))" -v i="$i" \
        'BEGIN {printf "tavlo 8 clients, client %d: fps=%.1f\n", i, (b - a) / s}'
done
kill "${EXTRA[@]}" 2>/dev/null
echo "tavlo cpu (8 clients): $C8 s/s"
kill "$TAVLO"; wait "$TAVLO" 2>/dev/null
sleep 1

# ---- GStreamer alone (ximagesrc ! x264enc tune=zerolatency ! rtph264pay), same
# settings, through the GStreamer RTSP server
"$BUILD/tavlo-bench-gstserver" 5001 >/dev/null 2>&1 & GS=$!; PIDS+=($GS)
sleep 1
GURL=rtsp://127.0.0.1:5001/cam
reader "gst server 1 client (udp)" rtspsrc location=$GURL latency=0 protocols=udp ! rtph264depay > "$WORK/g0.txt"
cat "$WORK/g0.txt"
reader "gst server 1 client (tcp)" rtspsrc location=$GURL latency=0 protocols=tcp ! rtph264depay > "$WORK/g1.txt" & R=$!
sleep 3; CG=$(cpu_over "$GS" "$((SECS - 2))"); wait $R
cat "$WORK/g1.txt"
echo "gst server cpu (1 client): $CG s/s"
kill "$GS"; wait "$GS" 2>/dev/null

# ---- ffmpeg x11grab + libx264, same settings, MPEG-TS over UDP to one client
ffmpeg -v error -f x11grab -framerate 30 -video_size 1920x1080 -i "$DISP" \
    -c:v libx264 -preset veryfast -tune zerolatency -crf 23 -g 10 -bf 0 -pix_fmt yuv420p \
    -flush_packets 1 -muxdelay 0 -muxpreload 0 -f mpegts "udp://127.0.0.1:23000?pkt_size=1316" \
    >/dev/null 2>"$WORK/ff.err" & FF=$!; PIDS+=($FF)
sleep 1
reader "ffmpeg x11grab 1 client (udp)" udpsrc port=23000 buffer-size=4000000 ! tsdemux latency=0 ! h264parse \
    > "$WORK/f1.txt" & R=$!
sleep 3; CF=$(cpu_over "$FF" "$((SECS - 2))"); wait $R
cat "$WORK/f1.txt"
echo "ffmpeg cpu (1 client): $CF s/s"
kill "$FF"; wait "$FF" 2>/dev/null

# TCP against GStreamer alone, in this run: median within 1.1 x the
# GStreamer server's median, p90 within 1.5 x that median.
field() { grep -o "$1=[0-9.-]*" "$2" | cut -d= -f2; }
awk -v tm="$(field latency_median_ms "$WORK/t1.txt")" -v tp="$(field latency_p90_ms "$WORK/t1.txt")" \
    -v gm="$(field latency_median_ms "$WORK/g1.txt")" 'BEGIN {
    if (gm > 0) printf "ratio tcp latency tavlo/gst: median %.2f (target <= 1.1), " \
                       "p90 / gst median %.2f (target <= 1.5)\n", tm / gm, tp / gm }'
awk -v t="$C1" -v f="$CF" -v e="$C8" 'BEGIN {
    if (f > 0) printf "ratio tavlo/ffmpeg cpu: %.2f (target <= 0.8)\n", t / f;
    if (t > 0) printf "ratio tavlo cpu 8 clients / 1 client: %.2f (target < 1.10)\n", e / t }'
echo "load at end: $(cut -d' ' -f1-3 /proc/loadavg)"
