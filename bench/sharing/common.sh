# Shared by the screen-sharing benchmarks; sourced, not run. Sets BUILD, SECS
# (default: $DEFAULT_SECS) and HERE from the arguments; re-runs the calling
# script in a private network namespace (only loopback) when root; starts a
# private Xvfb (1920x1080) with trayer as system tray on a free display from
# the given list and exports DISPLAY (DISP); ends everything in PIDS and
# removes WORK on exit.
#   . bench/sharing/common.sh "$0" "$@" -- <display numbers...>
SCRIPT=$1; shift
ARGS=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do ARGS+=("$1"); shift; done
shift
BUILD=${ARGS[0]:-$(dirname "$SCRIPT")/../../build}
BUILD=$(cd "$BUILD" && pwd)
SECS=${ARGS[1]:-$DEFAULT_SECS}
HERE=$(cd "$(dirname "$SCRIPT")" && pwd)

if [ "$(id -u)" = 0 ] && [ -z "${TAVLO_BENCH_NS:-}" ] && unshare -n true 2>/dev/null; then
    exec env TAVLO_BENCH_NS=1 unshare -n bash -c 'ip link set lo up && exec "$@"' bench "$SCRIPT" "$BUILD" "$SECS"
fi

PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT
WORK=$(mktemp -d)

for n in "$@"; do
    [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] || { DISP=:$n; break; }
done
Xvfb "$DISP" -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 & PIDS+=($!)
export DISPLAY=$DISP
for i in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
trayer --edge bottom --align left --widthtype request >/dev/null 2>&1 & PIDS+=($!)

# wait_for_port <port>: until something listens there on loopback (60 s at most).
wait_for_port() {
    local i
    for i in $(seq 600); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.1
    done
    echo "nothing listens on port $1" >&2
    return 1
}
