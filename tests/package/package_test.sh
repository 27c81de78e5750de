#!/usr/bin/env bash
# The Debian packages tavlo and tavlo-console, made by cpack from a build tree.
#
#   package_test.sh CHECK BUILD-DIR PACKAGE-DIR
#
#   build     cpack -G DEB in BUILD-DIR, the packages into PACKAGE-DIR
#   lintian   lintian finds neither errors nor warnings
#   contents  file lists, modes, control fields, conffiles, no maintainer
#             scripts, stripped binaries, compressed manual pages and changelog
#   programs  from a dpkg-deb -x tree: --version and --help of every program,
#             which name the same options as its manual page (man -l, lexgrog),
#             the files the help names, desktop-file-validate of the autostart
#             and menu entries, their commands and icons
#   start     from a dpkg-deb -x tree, in a network namespace of its own that
#             has only a loopback device (no route to the classroom's default
#             host address): the terminal writes the same default team.bin as
#             the package holds; run by the autostart entry's command, it
#             starts on a private Xvfb with the packaged team.bin and serves
#             its screen over RTSP (TCP and UDP), and every GStreamer plugin it
#             loads comes from a package it depends on; the packaged tavlo-host
#             hears the packaged terminal; the console starts
#   upgrade   dpkg --root into a private tree (never this machine's): install,
#             an administrator's edited team.bin and a user's board survive an
#             upgrade and a removal, purge removes the configuration and
#             still leaves the board
#
# TAVLO_VERSION (project(VERSION)) and TAVLO_SOURCE_DIR come from CTest. Every
# wait is for an event, with a deadline that only turns a hang into a failure.
set -u
check=$1
build=$2
pkgdir=$3
SLOW=120  # seconds

status=0
fail() {
    echo "FAIL: $*"
    status=1
}
finish() {
    [ $status -eq 0 ] && echo "OK: $check"
    exit $status
}

if [ "$check" = start-isolated ]; then
    work=$5  # the parent's, which the parent removes
else
    work=$(mktemp -d /tmp/tavlo-package-test.XXXXXX)
    cleanup() {
        [ -n "${TAVLO_XVFB_PID:-}" ] && tavlo_stop_xvfb
        rm -rf "$work"
    }
    trap cleanup EXIT
fi

deb() { echo "$pkgdir/$1_${TAVLO_VERSION}_$(dpkg --print-architecture).deb"; }
TERMINAL_DEB=$(deb tavlo)
CONSOLE_DEB=$(deb tavlo-console)

# Extracts both packages into a new folder, $x.
extract() {
    x=$work/extract.$1
    mkdir -p "$x"
    dpkg-deb -x "$TERMINAL_DEB" "$x" && dpkg-deb -x "$CONSOLE_DEB" "$x" || fail "dpkg-deb -x"
}

# Waits until file holds the fixed string at least n times.
wait_for() {
    local file=$1 text=$2 n=${3:-1} i=0
    while [ "$(grep -cF -- "$text" "$file" 2>/dev/null)" -lt "$n" ]; do
        i=$((i + 1))
        [ $i -gt $((SLOW * 10)) ] && return 1
        sleep 0.1
    done
}

# The package names of a Depends field, without versions and alternatives.
depends_names() {
    dpkg-deb -f "$1" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*//; s/[[:space:]]//g' | grep -v '^$'
}

# The long options a text names: --name tokens, once each, sorted.
options_in() {
    grep -oE -- '--[a-z][a-z-]*[a-z]' | sort -u
}

# The options --help describes: the first long option of each line of its
# option list ("  --name VALUE  text", "  -h, --help  text").
options_in_help() {
    grep -E -- '^  (-[a-z], )?--[a-z]' | sed -E 's/^  (-[a-z], )?(--[a-z][a-z-]*[a-z]).*/\2/' | sort -u
}

# The options a manual page describes: the terms of its definition lists
# (".TP" and the term's line in pandoc's roff).
options_in_page() {
    zcat "$1" | sed 's/\\-/-/g' | awk 'tp {print; tp = 0} /^\.TP/ {tp = 1}' | options_in
}

case $check in

build)
    # The build tree must be configured for /usr, which the packages name.
    prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
    [ "$prefix" = /usr ] || fail "$build is configured with CMAKE_INSTALL_PREFIX=$prefix, not /usr (reconfigure it)"
    rm -rf "$pkgdir"
    (cd "$build" && cpack -G DEB -B "$pkgdir") || fail "cpack -G DEB"
    for f in "$TERMINAL_DEB" "$CONSOLE_DEB"; do
        [ -f "$f" ] || fail "$f was not made"
    done
    finish
    ;;

lintian)
    # Warnings count as failures; overrides, if any, carry their reasons.
    lintian --fail-on error,warning --display-info "$TERMINAL_DEB" "$CONSOLE_DEB" || fail "lintian"
    finish
    ;;

contents)
    arch=$(dpkg --print-architecture)
    icons() { for s in 48x48 64x64 128x128 256x256; do echo "-rw-r--r-- ./usr/share/icons/hicolor/$s/apps/$1.png"; done; }
    expected_terminal=$(sort <<EOF
-rw-r--r-- ./etc/tavlo/team.bin
-rw-r--r-- ./etc/xdg/autostart/tavlo.desktop
-rwxr-xr-x ./usr/bin/tavlo
-rwxr-xr-x ./usr/bin/tavlo-host
-rw-r--r-- ./usr/share/doc/tavlo/changelog.gz
-rw-r--r-- ./usr/share/doc/tavlo/copyright
-rw-r--r-- ./usr/share/man/man1/tavlo-host.1.gz
-rw-r--r-- ./usr/share/man/man1/tavlo.1.gz
$(icons tavlo)
EOF
)
    expected_console=$(sort <<EOF
-rwxr-xr-x ./usr/bin/tavlo-console
-rw-r--r-- ./usr/share/applications/tavlo-console.desktop
-rw-r--r-- ./usr/share/doc/tavlo-console/changelog.gz
-rw-r--r-- ./usr/share/doc/tavlo-console/copyright
-rw-r--r-- ./usr/share/man/man1/tavlo-console.1.gz
$(icons tavlo-console)
EOF
)
    for p in tavlo tavlo-console; do
        f=$(deb $p)
        [ "$p" = tavlo ] && expected=$expected_terminal || expected=$expected_console
        # Regular files with their modes; every one owned by root.
        files=$(dpkg-deb -c "$f" | awk '$1 !~ /^d/ {print $1, $6}' | sort)
        [ "$files" = "$expected" ] || fail "$p: files differ from the expected list:
$(diff <(echo "$expected") <(echo "$files"))"
        owners=$(dpkg-deb -c "$f" | awk '{print $2}' | sort -u)
        [ "$owners" = root/root ] || fail "$p: files owned by $owners"
        dirs=$(dpkg-deb -c "$f" | awk '$1 ~ /^d/ && $1 != "drwxr-xr-x" {print $1, $6}')
        [ -z "$dirs" ] || fail "$p: folders that are not drwxr-xr-x: $dirs"

        # Control fields.
        field() { dpkg-deb -f "$f" "$1"; }
        [ "$(field Package)" = "$p" ] || fail "$p: Package is $(field Package)"
        [ "$(field Version)" = "$TAVLO_VERSION" ] || fail "$p: Version $(field Version), project $TAVLO_VERSION"
        [ "$(field Architecture)" = "$arch" ] || fail "$p: Architecture $(field Architecture)"
        [ "$(field Section)" = education ] || fail "$p: Section $(field Section)"
        [ "$(field Priority)" = optional ] || fail "$p: Priority $(field Priority)"
        maintainer=$(sed -n 's/^ -- \(.*>\)  .*/\1/p' "$TAVLO_SOURCE_DIR/packaging/changelog" | head -1)
        [ -n "$maintainer" ] && [ "$(field Maintainer)" = "$maintainer" ] ||
            fail "$p: Maintainer '$(field Maintainer)', the changelog's '$maintainer'"
        [[ "$(field Homepage)" == https://* ]] || fail "$p: Homepage '$(field Homepage)'"
        description=$(field Description)
        synopsis=$(head -1 <<<"$description")
        [ -n "$synopsis" ] && [ ${#synopsis} -le 80 ] || fail "$p: synopsis '$synopsis'"
        [ "$(wc -l <<<"$description")" -ge 4 ] || fail "$p: no real description: $description"

        # Depends: dpkg-shlibdeps' libraries, the GStreamer plugins the
        # screen's pipeline loads at run time and a font for Chinese.
        names=$(depends_names "$f")
        for d in libc6 libqt5core5a libqt5widgets5 libqt5network5 libavcodec59 libgstreamer1.0-0 \
                 libgstrtspserver-1.0-0 libx11-6 libxext6 libxdamage1 gstreamer1.0-plugins-base \
                 gstreamer1.0-plugins-good fonts-wqy-microhei; do
            grep -qx "$d" <<<"$names" || fail "$p: Depends lacks $d: $(field Depends)"
        done
        if [ "$p" = tavlo ]; then
            grep -qx libsdl2-2.0-0 <<<"$names" || fail "tavlo: Depends lacks libsdl2-2.0-0 (the viewer)"
        fi

        # No maintainer scripts: dpkg alone handles the conffiles, and
        # nothing may touch the users' folders.
        control=$(dpkg-deb -I "$f" | awk '/ bytes, +[0-9]+ lines/ {
            for (i = 1; i < NF; i++) if ($i == "lines") print ($(i + 1) == "*" ? $(i + 2) : $(i + 1)) }' |
            sort | tr '\n' ' ')
        if [ "$p" = tavlo ]; then
            [ "$control" = "conffiles control md5sums " ] || fail "tavlo: control files $control"
            conffiles=$(dpkg-deb -I "$f" conffiles | sort)
            [ "$conffiles" = "$(printf '/etc/tavlo/team.bin\n/etc/xdg/autostart/tavlo.desktop')" ] ||
                fail "tavlo: conffiles are: $conffiles"
        else
            [ "$control" = "control md5sums " ] || fail "tavlo-console: control files $control"
        fi
    done

    # The programs are stripped; the manual pages and the changelogs are
    # compressed at the best level without a name or time stamp.
    extract contents
    for b in tavlo tavlo-host tavlo-console; do
        file -b "$x/usr/bin/$b" | grep -q ', stripped' || fail "$b is not stripped: $(file -b "$x/usr/bin/$b")"
    done
    for z in "$x"/usr/share/man/man1/*.gz "$x"/usr/share/doc/*/changelog.gz; do
        info=$(file -b "$z")
        [[ "$info" == *"max compression"* && "$info" != *"was "* && "$info" != *"last modified"* ]] ||
            fail "$z: $info"
    done
    # The changelog's latest entry is this version.
    for p in tavlo tavlo-console; do
        zcat "$x/usr/share/doc/$p/changelog.gz" >"$work/changelog.$p"
        v=$(dpkg-parsechangelog -l "$work/changelog.$p" -S Version)
        [ "$v" = "$TAVLO_VERSION" ] || fail "$p: the changelog's latest version is '$v'"
    done
    grep -q '^License: ' "$x/usr/share/doc/tavlo/copyright" || fail "the copyright file names no licence"
    finish
    ;;

programs)
    extract programs
    # --version and --help need no display, as on a text console.
    unset DISPLAY WAYLAND_DISPLAY
    for b in tavlo tavlo-host tavlo-console; do
        v=$("$x/usr/bin/$b" --version) || fail "$b --version: exit status $?"
        [ "$v" = "$b $TAVLO_VERSION" ] || fail "$b --version says '$v'"
        help=$("$x/usr/bin/$b" --help) || fail "$b --help: exit status $?"
        [[ "$help" == "usage: $b "* ]] || fail "$b --help does not start with its usage: $help"

        page=$x/usr/share/man/man1/$b.1.gz
        [ -f "$page" ] || { fail "no manual page for $b"; continue; }
        warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "man -l $page: $warnings"
        text=$(MANWIDTH=80 man -E UTF-8 -l "$page" 2>/dev/null)
        for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" "SEE ALSO"; do
            grep -qx "$section" <<<"$text" || fail "$b(1) has no $section section"
        done
        grep -qF "Tavlo $TAVLO_VERSION" <<<"$text" || fail "$b(1) does not name version $TAVLO_VERSION"
        whatis=$(lexgrog "$page" 2>&1)
        [[ "$whatis" == *"\"$b - "* ]] || fail "$b(1) has no whatis entry: $whatis"
        # The help and the manual page describe the same options, and
        # neither names one that the other does not describe.
        described=$(options_in_help <<<"$help")
        [ "$(options_in <<<"$help")" = "$described" ] || fail "$b --help names undescribed options: $help"
        in_page=$(options_in_page "$page")
        [ -n "$described" ] && [ "$described" = "$in_page" ] || fail "$b: --help and $b(1) describe different options:
$(diff <(echo "$described") <(echo "$in_page"))"
        [ "$(zcat "$page" | sed 's/\\-/-/g' | options_in)" = "$in_page" ] ||
            fail "$b(1) names options it does not describe"
    done

    # The terminal's help names its installed files, and the package has them.
    help=$("$x/usr/bin/tavlo" --help)
    for f in /etc/tavlo/team.bin /etc/xdg/autostart/tavlo.desktop; do
        grep -qE "^  $f  +[^ ]" <<<"$help" || fail "tavlo --help does not name $f"
        [ -f "$x$f" ] || fail "the package has no $f"
    done

    # The autostart entry and the console's menu entry.
    autostart=$x/etc/xdg/autostart/tavlo.desktop
    menu=$x/usr/share/applications/tavlo-console.desktop
    for e in "$autostart" "$menu"; do
        out=$(desktop-file-validate "$e" 2>&1) || fail "desktop-file-validate $e: $out"
        [ -z "$out" ] || fail "desktop-file-validate $e: $out"
        icon=$(sed -n 's/^Icon=//p' "$e")
        [ -n "$icon" ] && [ -f "$x/usr/share/icons/hicolor/48x48/apps/$icon.png" ] ||
            fail "$e: Icon '$icon' is not in the package"
    done
    read -r -a cmd <<<"$(sed -n 's/^Exec=//p' "$autostart")"
    [ "${cmd[0]}" = /usr/bin/tavlo ] || fail "autostart runs ${cmd[0]}"
    [ "${cmd[*]:1}" = "--quiet --config-dir /etc/tavlo" ] || fail "autostart options: ${cmd[*]:1}"
    grep -q '^Path=' "$autostart" && fail "the autostart entry sets a working directory"
    [ "$(sed -n 's/^Exec=//p' "$menu")" = tavlo-console ] && [ -x "$x/usr/bin/tavlo-console" ] ||
        fail "the menu entry does not start the packaged console"
    grep -qx 'Categories=.*Education;.*' "$menu" || fail "the menu entry is not in the Education menu"
    # Each icon is as large as its folder says.
    for png in "$x"/usr/share/icons/hicolor/*/apps/*.png; do
        size=$(identify -format '%wx%h' "$png")
        [[ "$png" == */"$size"/apps/* ]] || fail "$png is $size"
    done
    finish
    ;;

start)
    extract start
    . "$TAVLO_SOURCE_DIR/scripts/common.sh"
    tavlo_start_xvfb >/dev/null || { fail "no Xvfb"; finish; }
    # The rest runs in a network namespace with only a loopback device.
    # Without one (not root, no namespaces) the test fails rather than let
    # the terminal loose on this machine's network with the default host.
    unshare -n true 2>/dev/null || { fail "cannot make a network namespace (run as root)"; finish; }
    unshare -n "$0" start-isolated "$build" "$pkgdir" "$x" "$work" || status=1
    finish
    ;;

start-isolated)
    x=$4
    trap 'kill $(jobs -p) 2>/dev/null' EXIT
    ip link set lo up
    if ip route get 192.168.7.170 >/dev/null 2>&1; then
        fail "192.168.7.170 is reachable from the test's namespace"
        finish
    fi
    mkdir -p "$work/run"

    # 1. Started by hand in an empty folder, the packaged terminal writes its
    # default team.bin there and stops: the file the package holds in /etc.
    mkdir "$work/run/empty"
    (cd "$work/run/empty" && exec "$x/usr/bin/tavlo") >"$work/run/first.out" 2>"$work/run/first.err"
    code=$?
    [ $code -eq 1 ] || fail "first start in an empty folder: exit status $code"
    grep -qx 'Config file NOT exist!' "$work/run/first.err" || fail "first start: $(cat "$work/run/first.err")"
    cmp "$work/run/empty/team.bin" "$x/etc/tavlo/team.bin" ||
        fail "the packaged team.bin differs from the terminal's own default"

    # 2. The autostart entry's command, with /usr and /etc in the extracted
    # tree, from an empty working directory: the terminal reads the packaged
    # team.bin (its host 192.168.7.170 is unreachable here), shows its
    # splash and serves its screen.
    read -r -a cmd <<<"$(sed -n 's/^Exec=//p' "$x/etc/xdg/autostart/tavlo.desktop")"
    for i in "${!cmd[@]}"; do
        [[ "${cmd[$i]}" == /usr/* || "${cmd[$i]}" == /etc/* ]] && cmd[$i]=$x${cmd[$i]}
    done
    mkdir "$work/run/home"
    (cd "$work/run/home" && exec "${cmd[@]}") >"$work/run/term.out" 2>"$work/run/term.err" &
    term=$!
    wait_for "$work/run/term.out" "SendTo: 192.168.7.170" 2 ||
        fail "no announcements for the packaged host address: $(cat "$work/run/term.err")"
    i=0
    until xwininfo -root -tree | grep -qF '"澄屿多屏管理系统-小组"'; do
        i=$((i + 1))
        [ $i -gt $((SLOW * 10)) ] && { fail "no splash window"; break; }
        sleep 0.1
    done
    for transport in tcp udp; do
        probe=$(timeout $SLOW ffprobe -v error -rtsp_transport $transport -show_entries stream=codec_name,width,height \
            -of csv=p=0 rtsp://127.0.0.1:5000/cam_passby_chn0 2>&1)
        [ "$probe" = "h264,1920,1080" ] || fail "RTSP over $transport: $probe"
    done
    kill -0 $term 2>/dev/null || fail "the terminal has ended: $(cat "$work/run/term.err")"
    # Every GStreamer plugin the terminal has loaded comes from a package
    # that tavlo depends on; appsrc's and the RTP payloader's must be among
    # them.
    names=$(depends_names "$TERMINAL_DEB")
    plugins=$(awk '$6 ~ /\/gstreamer-1\.0\/libgst.*\.so$/ {print $6}' "/proc/$term/maps" | sort -u)
    for so in libgstapp.so libgstrtp.so; do
        grep -q "/$so\$" <<<"$plugins" || fail "the terminal has not loaded $so: $plugins"
    done
    for p in $plugins; do
        owner=$(dpkg -S "${p/#\/lib\//\/usr\/lib\/}" 2>/dev/null | head -1 | cut -d: -f1)
        [ -n "$owner" ] || { fail "no package owns $p"; continue; }
        grep -qx "$owner" <<<"$names" || fail "$p is in $owner, which tavlo does not depend on"
    done
    # The terminal wrote nothing into its working directory.
    [ -z "$(ls -A "$work/run/home")" ] || fail "the terminal wrote into its working directory: $(ls -A "$work/run/home")"
    kill $term
    wait $term 2>/dev/null

    # 3. The packaged host hears the packaged terminal, given a copy of the
    # packaged team.bin that points at this namespace's loopback.
    mkdir "$work/run/classroom"
    sed 's/"192\.168\.7\.170"/"127.0.0.1"/' "$x/etc/tavlo/team.bin" >"$work/run/classroom/team.bin"
    grep -q '"127.0.0.1"' "$work/run/classroom/team.bin" || fail "the loopback team.bin was not made"
    (cd "$work/run/home" && exec "$x/usr/bin/tavlo" --quiet --config-dir "$work/run/classroom") \
        >"$work/run/term2.out" 2>"$work/run/term2.err" &
    term=$!
    group=$(sed -n 's/^ *"teamNum": *\([0-9]*\).*/\1/p' "$x/etc/tavlo/team.bin")
    heard=$(timeout $SLOW "$x/usr/bin/tavlo-host" listen --bind 127.0.0.1 --count 2 --timeout $SLOW 2>&1)
    [ -n "$group" ] && [ "$(grep -c "^group $group livePort 5000 from 127.0.0.1:" <<<"$heard")" -eq 2 ] ||
        fail "tavlo-host heard: $heard"
    kill $term
    wait $term 2>/dev/null

    # 4. The packaged console starts and listens for the groups (making its
    # classroom key in a folder of the test's, not the user's).
    XDG_CONFIG_HOME="$work/config" "$x/usr/bin/tavlo-console" --no-share >"$work/run/console.out" \
        2>"$work/run/console.err" &
    console=$!
    wait_for "$work/run/console.out" "listening on 0.0.0.0:55555" ||
        fail "the console did not start: $(cat "$work/run/console.err")"
    kill $console
    wait $console 2>/dev/null
    finish
    ;;

upgrade)
    [ "$(id -u)" = 0 ] || { fail "dpkg --root needs root to give the files their owners"; finish; }
    # A newer version of the same packages, made by cpack from the same tree.
    next="$TAVLO_VERSION+upgrade1"
    (cd "$build" && cpack -G DEB -B "$work/next" -D CPACK_PACKAGE_VERSION="$next") >"$work/cpack.log" 2>&1 ||
        { cat "$work/cpack.log"; fail "cpack of $next"; finish; }
    next_deb=$work/next/tavlo_${next}_$(dpkg --print-architecture).deb
    [ -f "$next_deb" ] || { fail "no $next_deb"; finish; }

    # A private root whose dpkg database holds, as installed, the packages
    # tavlo depends on at this machine's versions, so that dpkg checks the
    # dependencies for real. This machine's own database is never touched.
    root=$work/root
    admin=$root/var/lib/dpkg
    mkdir -p "$admin/info" "$admin/updates"
    before=$(md5sum /var/lib/dpkg/status)
    for p in $({ depends_names "$TERMINAL_DEB"; depends_names "$CONSOLE_DEB"; } | sort -u); do
        dpkg-query -W -f='Package: ${Package}\nStatus: install ok installed\nMaintainer: ${Maintainer}\nVersion: ${Version}\nArchitecture: ${Architecture}\nMulti-Arch: ${Multi-Arch}\nDescription: ${binary:Summary}\n\n' "$p" |
            sed '/^Multi-Arch: $/d' >>"$admin/status" || fail "$p is not installed on this machine"
        touch "$admin/info/$(dpkg-query -W -f='${binary:Package}' "$p").list"
    done
    dpkgr() { dpkg --root="$root" --log="$work/dpkg.log" "$@" >>"$work/dpkg.out" 2>&1 || { cat "$work/dpkg.out"; fail "dpkg $*"; }; }
    state() { dpkg-query --admindir="$admin" -W -f='${db:Status-Status} ${Version}' "$1" 2>/dev/null; }

    dpkgr -i "$TERMINAL_DEB" "$CONSOLE_DEB"
    [ "$(state tavlo)" = "installed $TAVLO_VERSION" ] || fail "tavlo after install: $(state tavlo)"
    [ "$(state tavlo-console)" = "installed $TAVLO_VERSION" ] || fail "tavlo-console after install: $(state tavlo-console)"
    cmp -s "$root/etc/tavlo/team.bin" <(dpkg-deb --fsys-tarfile "$TERMINAL_DEB" | tar -xOf - ./etc/tavlo/team.bin) ||
        fail "installed team.bin is not the packaged one"

    # The administrator sets the classroom; a pupil has a board.
    printf '{\n    "roomIp": "10.20.30.1",\n    "teamNum": 5\n}\n' >"$root/etc/tavlo/team.bin"
    admin_copy=$(cat "$root/etc/tavlo/team.bin")
    board=$root/home/pupil/.local/share/tavlo/boards/board-20261208-101010-000.tvboard
    mkdir -p "$(dirname "$board")"
    head -c 4096 /dev/urandom >"$board"
    board_sum=$(md5sum <"$board")

    dpkgr -i "$next_deb"
    [ "$(state tavlo)" = "installed $next" ] || fail "tavlo after upgrade: $(state tavlo)"
    [ "$(cat "$root/etc/tavlo/team.bin")" = "$admin_copy" ] || fail "the upgrade replaced the administrator's team.bin"
    leftovers=$(find "$root/etc" -name '*.dpkg-*')
    [ -z "$leftovers" ] || fail "the upgrade left $leftovers"

    dpkgr -r tavlo
    [ "$(state tavlo)" = "config-files $next" ] || fail "tavlo after removal: $(state tavlo)"
    [ ! -e "$root/usr/bin/tavlo" ] || fail "the removal left /usr/bin/tavlo"
    [ "$(cat "$root/etc/tavlo/team.bin" 2>/dev/null)" = "$admin_copy" ] || fail "the removal lost team.bin"

    dpkgr -P tavlo tavlo-console
    [ -z "$(state tavlo)" ] || fail "tavlo after purge: $(state tavlo)"
    [ ! -e "$root/etc/tavlo" ] || fail "the purge left $(find "$root/etc/tavlo")"
    [ ! -e "$root/etc/xdg/autostart/tavlo.desktop" ] || fail "the purge left the autostart entry"
    [ -z "$(find "$root/usr" -name '*tavlo*')" ] || fail "the purge left $(find "$root/usr" -name '*tavlo*')"
    [ "$(md5sum <"$board" 2>/dev/null)" = "$board_sum" ] || fail "the pupil's board did not survive"
    [ "$(md5sum /var/lib/dpkg/status)" = "$before" ] || fail "this machine's dpkg database changed"
    finish
    ;;

*)
    echo "usage: package_test.sh build|lintian|contents|programs|start|upgrade BUILD-DIR PACKAGE-DIR" >&2
    exit 2
    ;;
esac
