#!/bin/bash
# Replays against a live terminal the stray requests that broke screen
# sharing, one line each (bench/sharing/faults.py, rtpcount.py):
#  - RTCP that claims our SSRC, over UDP and over the RTSP connection: the
#    pictures a playing FFmpeg viewer decodes before and after it;
#  - 30 SETUPs without a session on one connection, on a scrolling picture
#    (videotestsrc smpte in an ximagesink): how many are accepted and the
#    RTP bit rate that lands on the ports they name;
#  - 30 clients joining in the same instant, timed from connect(): the
#    latest first access unit, and the kernel's count of connections
#    dropped for a full listen queue (ListenOverflows).
# The terminal shows moving content (the test painter's bars and clock).
#
#   bench/sharing/faults.sh <build dir> [seconds per viewer run]
#   TAVLO_FAULTS="joins" bench/sharing/faults.sh build   (some of them:
#   rtcp-udp rtcp-tcp sessions joins)
#
# Runs in a private network namespace (only loopback) when started as root.
set -u
DEFAULT_SECS=15
. "$(dirname "$0")/common.sh" "$0" "$@" -- $(seq 89 -1 80) $(seq 280 319)
echo "machine: $(nproc) cores, load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
"$BUILD/tavlo-test-painter" clock moving >/dev/null & PIDS+=($!)

# listen_overflows: the namespace's TcpExt ListenOverflows counter.
listen_overflows() {
    awk '/^TcpExt:/ { if (!h) { for (i = 1; i <= NF; i++) n[i] = $i; h = 1 } else
         for (i = 1; i <= NF; i++) if (n[i] == "ListenOverflows") print $i }' /proc/net/netstat
}
start_terminal() {
    printf '{"roomIp":"127.0.0.2","teamNum":1}' > "$WORK/team.bin"
    (cd "$WORK" && exec "$BUILD/tavlo" --quiet >/dev/null 2>"$WORK/tavlo.err") & TAVLO=$!; PIDS+=($TAVLO)
    wait_for_port 5000 || { cat "$WORK/tavlo.err"; exit 1; }
    sleep 1
}
stop_terminal() { kill "$TAVLO"; wait "$TAVLO" 2>/dev/null; sleep 1; }

# A terminal of its own for each fault: one must not weaken the next.
# TAVLO_FAULTS picks some of them.
for fault in ${TAVLO_FAULTS:-rtcp-udp rtcp-tcp sessions joins}; do
    case $fault in
    rtcp-udp | rtcp-tcp)
        start_terminal
        python3 "$HERE/faults.py" "$fault" --seconds "$SECS"
        stop_terminal
        ;;
    sessions)
        # On a scrolling picture, which costs its full bit rate.
        gst-launch-1.0 -q videotestsrc pattern=smpte horizontal-speed=8 ! \
            video/x-raw,width=1920,height=1080,framerate=30/1 ! videoconvert ! ximagesink sync=true \
            >/dev/null 2>&1 & SCROLL=$!; PIDS+=($SCROLL)
        start_terminal
        python3 "$HERE/faults.py" sessions --seconds 5
        stop_terminal
        kill "$SCROLL"; wait "$SCROLL" 2>/dev/null
        ;;
    joins)
        start_terminal
        before=$(listen_overflows)
        summary=$(python3 "$HERE/rtpcount.py" --clients 30 --burst --seconds 3 --quiet)
        after=$(listen_overflows)
        times=$(echo "$summary" | grep -o 'first_au_ms_max=[^ ]* play_au_ms_max=[^ ]*')
        echo "30 joins timed from connect(): $times ListenOverflows=$((after - before))"
        stop_terminal
        ;;
    esac
done
echo "load at end: $(cut -d' ' -f1-3 /proc/loadavg)"
