#!/bin/sh
# cmake --install puts the terminal and its autostart entry in place; the
# entry starts the program in the configured folder.
set -eu
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR="$dest" cmake --install "$build" >/dev/null
bindir=$(sed -n 's/^Exec=\(.*\)\/tavlo --quiet$/\1/p' "$build/tavlo.desktop")
workdir=$(sed -n 's/^Path=//p' "$build/tavlo.desktop")
entry=$(find "$dest" -name tavlo.desktop -path '*xdg/autostart*')
[ -n "$entry" ] || { echo "no autostart entry installed"; exit 1; }
[ -x "$dest$bindir/tavlo" ] || { echo "tavlo not installed in $bindir"; exit 1; }
[ -d "$dest$workdir" ] || { echo "working directory $workdir not created"; exit 1; }
grep -qx 'Type=Application' "$entry"
# Started at login: without the per-frame lines of screen sharing.
grep -qx "Exec=$bindir/tavlo --quiet" "$entry"
grep -qx "Path=$workdir" "$entry"
# The classroom host's tool goes beside the terminal.
if [ -x "$build/tavlo-host" ]; then
    [ -x "$dest$bindir/tavlo-host" ] || { echo "tavlo-host not installed"; exit 1; }
fi
# So does the classroom console.
if [ -x "$build/tavlo-console" ]; then
    [ -x "$dest$bindir/tavlo-console" ] || { echo "tavlo-console not installed"; exit 1; }
fi
echo "installed: $bindir/tavlo, $entry (Path=$workdir)"
