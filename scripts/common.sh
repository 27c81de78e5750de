# Shared by scripts/run, scripts/test and scripts/package: installs what is
# missing, builds, and starts a private X display when asked. Sourced, not run.

TAVLO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian 12 packages that the build, the program, the tests and the Debian
# packages (CPack's dpkg-shlibdeps and file, pandoc for the manual pages,
# lintian, desktop-file-validate, man) need.
TAVLO_PACKAGES="build-essential cmake pkg-config
 qtbase5-dev qtbase5-dev-tools libqt5svg5 qttools5-dev qttools5-dev-tools
 libavcodec-dev libavformat-dev libavutil-dev libswscale-dev ffmpeg
 libsdl2-dev libx11-dev libxext-dev libxdamage-dev
 libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstrtspserver-1.0-dev
 gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly
 gstreamer1.0-libav gstreamer1.0-tools gstreamer1.0-x
 libpoppler-qt5-dev poppler-utils
 libgtest-dev libgmock-dev libbenchmark-dev
 xvfb trayer openbox fonts-wqy-microhei x11-utils x11-xserver-utils xdotool imagemagick libgl1-mesa-dri libglx-mesa0
 xauth libsodium-dev xserver-xephyr libxrandr-dev
 iproute2 procps python3
 dpkg-dev file pandoc lintian desktop-file-utils man-db"

tavlo_install_packages() {
    local missing=""
    for p in $TAVLO_PACKAGES; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing="$missing $p"
        fi
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    local sudo=""
    [ "$(id -u)" != 0 ] && sudo="sudo"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq || return 1
    # shellcheck disable=SC2086
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing || return 1
}

# tavlo_build <build-dir> [cmake options...]
tavlo_build() {
    local dir=$1
    shift
    cmake -S "$TAVLO_ROOT" -B "$dir" "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
    cmake --build "$dir" -j"$(nproc)" || return 1
}

# Starts Xvfb (1920x1080, 24 bit) on a free display with trayer as system
# tray, and exports DISPLAY. TAVLO_XVFB_PID and TAVLO_TRAY_PID are set.
tavlo_start_xvfb() {
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    TAVLO_XVFB_PID=$!
    export DISPLAY=":$n"
    local i=0
    until xdpyinfo >/dev/null 2>&1; do
        i=$((i + 1))
        if [ $i -gt 100 ] || ! kill -0 "$TAVLO_XVFB_PID" 2>/dev/null; then
            echo "Could not start Xvfb on :$n" >&2
            return 1
        fi
        sleep 0.1
    done
    trayer --edge bottom --align left --widthtype request >/dev/null 2>&1 &
    TAVLO_TRAY_PID=$!
    i=0
    until xwininfo -root -tree 2>/dev/null | grep -q '"panel"'; do
        i=$((i + 1))
        [ $i -gt 100 ] && { echo "trayer did not start" >&2; return 1; }
        sleep 0.1
    done
    export LIBGL_ALWAYS_SOFTWARE=1
    if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
        export XDG_RUNTIME_DIR="/tmp/tavlo-runtime-$(id -u)"
        mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
    fi
}

tavlo_stop_xvfb() {
    [ -n "${TAVLO_TRAY_PID:-}" ] && kill "$TAVLO_TRAY_PID" 2>/dev/null
    [ -n "${TAVLO_XVFB_PID:-}" ] && kill "$TAVLO_XVFB_PID" 2>/dev/null
    wait 2>/dev/null
    return 0
}
