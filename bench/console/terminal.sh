#!/bin/bash
# What the teacher's console costs one real terminal: the terminal's CPU
# seconds per second on a still screen and on a moving one (the test
# painter's bars and clock), with nobody watching, with a tavlo-console open
# (its thumbnails pull the small stream, cam_passby_chn1), and with one
# client of the full stream (cam_passby_chn0: what the console's thumbnails
# cost before the small stream, and what showing the screen costs); and the
# small stream's bit rate (bench/sharing/rtpcount.py, no decoding).
#
#   bench/console/terminal.sh <build dir> [seconds per figure]
#
# Runs in a private network namespace (only loopback) when started as root.
set -u
DEFAULT_SECS=15
. "$(dirname "$0")/../sharing/common.sh" "$0" "$@" -- $(seq 89 -1 80) $(seq 280 299)
SHARING=$(cd "$HERE/../sharing" && pwd)
echo "machine: $(nproc) cores, load at start: $(cut -d' ' -f1-3 /proc/loadavg); ${SECS} s per figure"

HZ=$(getconf CLK_TCK)
cputicks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
cpu_over() {  # cpu_over <pid> <seconds>: CPU seconds per second of that process
    local a b; a=$(cputicks "$1"); sleep "$2"; b=$(cputicks "$1")
    awk -v a="$a" -v b="$b" -v hz="$HZ" -v s="$2" 'BEGIN {printf "%.3f", (b - a) / hz / s}'
}

# The console on a screen of its own (its window would otherwise change the
# terminal's screen every time a thumbnail comes).
for n in $(seq 300 319); do
    [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] || { CONSOLE_DISP=:$n; break; }
done
Xvfb "$CONSOLE_DISP" -screen 0 1280x720x24 -nolisten tcp -noreset >/dev/null 2>&1 & PIDS+=($!)
for i in $(seq 50); do DISPLAY=$CONSOLE_DISP xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# The terminal announces to the console on this computer (127.0.0.1); the
# console serves no screen of its own (the terminal has port 5000).
printf '{"roomIp":"127.0.0.1","teamNum":1}' > "$WORK/team.bin"
(cd "$WORK" && exec "$BUILD/tavlo" --quiet >/dev/null 2>"$WORK/tavlo.err") & TAVLO=$!; PIDS+=($TAVLO)
wait_for_port 5000 || { cat "$WORK/tavlo.err"; exit 1; }
sleep 2

pictures() {  # the console's count of group 1's thumbnails so far
    local n i
    n=$(grep -c '^pictures 1 ' "$WORK/console.out")
    echo "pictures" >&7
    for i in $(seq 100); do
        [ "$(grep -c '^pictures 1 ' "$WORK/console.out")" -gt "$n" ] && break
        sleep 0.1
    done
    grep '^pictures 1 ' "$WORK/console.out" | tail -1 | cut -d' ' -f4
}

figures() {  # figures <screen>: the terminal's CPU with nobody, the console, a full-stream client
    echo "terminal cpu, $1 screen, nobody watching: $(cpu_over $TAVLO "$SECS") s/s"
    mkdir -p "$WORK/config"
    rm -f "$WORK/cin"; mkfifo "$WORK/cin"
    DISPLAY=$CONSOLE_DISP XDG_CONFIG_HOME="$WORK/config" "$BUILD/tavlo-console" --bind 127.0.0.1 --no-share --stdin \
        < "$WORK/cin" > "$WORK/console.out" 2>&1 & local CONSOLE=$!
    exec 7> "$WORK/cin"
    local i
    for i in $(seq 100); do grep -q "group 1 at" "$WORK/console.out" 2>/dev/null && break; sleep 0.2; done
    sleep 4  # its first thumbnails
    echo "stream 1" >&7
    local a b
    a=$(pictures)
    echo "terminal cpu, $1 screen, the console open (small stream): $(cpu_over $TAVLO "$SECS") s/s"
    b=$(pictures)
    echo "  the console's thumbnails meanwhile: $((b - a)) in $SECS s, $(grep -m1 '^stream 1 ' "$WORK/console.out")"
    exec 7>&-
    kill $CONSOLE; wait $CONSOLE 2>/dev/null
    sleep 2
    python3 "$SHARING/rtpcount.py" --seconds $((SECS + 4)) --label "full stream ($1)" --quiet > "$WORK/full.txt" &
    local R=$!
    sleep 3
    echo "terminal cpu, $1 screen, one full-stream client (the console before): $(cpu_over $TAVLO "$SECS") s/s"
    wait $R
    python3 "$SHARING/rtpcount.py" --url rtsp://127.0.0.1:5000/cam_passby_chn1 --seconds "$SECS" \
        --label "small stream ($1)" --quiet
    sleep 2
}

figures still
"$BUILD/tavlo-test-painter" clock moving >/dev/null 2>&1 & PAINT=$!; PIDS+=($PAINT)
sleep 1
figures moving
echo "load at end: $(cut -d' ' -f1-3 /proc/loadavg)"
