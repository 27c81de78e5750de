#!/bin/bash
# Bit rate and frames per second of the shared screen on the worst case, a
# full screen of noise (videotestsrc pattern=snow, 1920x1080, 30 fps, in an
# ximagesink that covers the screen), and on a scrolling picture (smpte,
# horizontal-speed=8): Tavlo's stream as a non-decoding client counts it
# (bench/sharing/rtpcount.py), beside a GStreamer ximagesrc ! x264enc
# speed-preset=veryfast tune=zerolatency bitrate=4000 pipeline on the same
# screen in the same run.
#
#   bench/sharing/bitrate.sh <build dir> [seconds]
#
# Runs in a private network namespace (only loopback) when started as root.
set -u
DEFAULT_SECS=10
. "$(dirname "$0")/common.sh" "$0" "$@" -- $(seq 69 -1 60) $(seq 200 239)
echo "machine: $(nproc) cores, load at start: $(cut -d' ' -f1-3 /proc/loadavg); ${SECS} s per figure"

printf '{"roomIp":"127.0.0.2","teamNum":1}' > "$WORK/team.bin"
(cd "$WORK" && exec "$BUILD/tavlo" --quiet >/dev/null 2>"$WORK/tavlo.err") & TAVLO=$!; PIDS+=($TAVLO)
wait_for_port 5000 || { cat "$WORK/tavlo.err"; exit 1; }
sleep 1

for SCREEN in "snow" "smpte horizontal-speed=8"; do
    gst-launch-1.0 -q videotestsrc pattern=$SCREEN ! video/x-raw,width=1920,height=1080,framerate=30/1 ! \
        videoconvert ! ximagesink sync=true >/dev/null 2>&1 & SHOW=$!
    sleep 2
    python3 "$HERE/rtpcount.py" --seconds "$SECS" --label "tavlo [${SCREEN}]"
    # GStreamer's encoder at the same settings, stamped and muxed so that
    # ffprobe can count frames and bytes over the span of the stream.
    timeout -s INT $((SECS + 3)) gst-launch-1.0 -q -e ximagesrc use-damage=false show-pointer=false ! \
        video/x-raw,framerate=30/1 ! videoconvert ! video/x-raw,format=I420 ! \
        x264enc speed-preset=veryfast tune=zerolatency bitrate=4000 key-int-max=10 ! h264parse ! \
        matroskamux ! filesink location="$WORK/gst.mkv" >/dev/null 2>&1
    ffprobe -v error -select_streams v -show_entries packet=pts_time,size -of csv=p=0 "$WORK/gst.mkv" |
        awk -F, -v label="gst x264enc [${SCREEN}]" '
            { t[NR] = $1; s[NR] = $2 }
            END { # from the second second on, as for Tavlo
                  for (i = 1; i <= NR && t[i] < t[1] + 1; i++) ;
                  n = 0; b = 0; for (j = i; j <= NR; j++) { n++; b += s[j] }
                  d = t[NR] - t[i]; if (d > 0) printf "%s fps=%.1f kbps=%.0f\n", label, (n - 1) / d, b * 8 / d / 1000 }'
    kill $SHOW; wait $SHOW 2>/dev/null
done
echo "load at end: $(cut -d' ' -f1-3 /proc/loadavg)"
