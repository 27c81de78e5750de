# Shared by the viewer's benchmarks; sourced, not run:
#   . "$(dirname "$0")/common.sh"
# Re-runs the calling script in a network namespace of its own (needs root),
# brings its loopback up, and on exit ends every process in PIDS, deletes
# every veth link in LINKS and removes WORK (a fresh temporary folder).
if [ -z "${TAVLO_BENCH_INNER:-}" ]; then
    exec env TAVLO_BENCH_INNER=1 unshare -n sh "$0" "$@"
fi
ip link set lo up
WORK=$(mktemp -d)
PIDS=""
LINKS=""
cleanup() {
    for p in $PIDS; do kill "$p" 2>/dev/null || true; done
    sleep 1
    for p in $PIDS; do kill -9 "$p" 2>/dev/null || true; done
    for l in $LINKS; do ip link del "$l" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

# free_displays N...: fails unless every display :N is free.
free_displays() {
    for d in "$@"; do
        if [ -e "/tmp/.X$d-lock" ] || [ -e "/tmp/.X11-unix/X$d" ]; then
            echo "display :$d is in use; choose others with TAVLO_BENCH_DISPLAYS" >&2
            exit 1
        fi
    done
}

# veth_ns NAME LOCAL/24 REMOTE...: a namespace behind the veth pair NAME0
# (here, with LOCAL) and NAME1 (there, with the REMOTE addresses, /24); sets
# NSPID to a process inside it.
veth_ns() {
    unshare -n sleep 100000 & NSPID=$!
    PIDS="$PIDS $NSPID"
    LINKS="$LINKS ${1}0"
    sleep 0.5
    ip link add "${1}0" type veth peer name "${1}1" netns $NSPID
    ip addr add "$2"/24 dev "${1}0"
    ip link set "${1}0" up
    nsenter -t $NSPID -n ip link set lo up
    nsenter -t $NSPID -n ip link set "${1}1" up
    link=${1}1
    shift 2
    for a in "$@"; do nsenter -t $NSPID -n ip addr add "$a"/24 dev "$link"; done
}
