#!/usr/bin/env python3
"""Console CPU and inbound traffic with N groups' thumbnails.

    bench/console/thumbs.py <build dir> [groups ...] [--seconds S]

For each count of groups (default 10 and 30), twice: terminals that serve
only their full stream (as before the small one: the console pulls it and
decodes a keyframe a second), and terminals that serve the small stream as
well (the console pulls only that). Full: N streams of 1920x1080 H.264 at
4 Mbit/s, keyframe every 10 frames; small: 480x270, one picture a second,
each a keyframe, encoded as the terminal encodes its small stream
(SMALL_ENCODING); both served from pre-encoded files by
tavlo-bench-rtsp-files on loopback (no encoding: the sources cost little);
N groups announce themselves to tavlo-console (on a private Xvfb, --no-share,
so only the console's own work is measured) with those live ports, each from
an address of its own (group_address), as the console takes one group per
address. Once every
group has a thumbnail, the console's CPU time (user + system, from
/proc/PID/stat) is taken over S seconds (default 20), with the thumbnails
decoded in that time and the bytes that crossed loopback (the namespace's
only interface: what the teacher's computer would take in). Prints one
line per count and kind, and the load average.
Runs in a private network namespace (only loopback) when started as root.
"""
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

FIRST_PORT = 6001
CLK = os.sysconf("SC_CLK_TCK")


def group_address(g):
    """The loopback address group g announces from (and is pulled at)."""
    return f"127.0.1.{g}"


def announcer(groups, port_of):
    """One socket per group, bound to its address; announce() sends one round."""
    socks = {}
    for g in groups:
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((group_address(g), 0))
        socks[g] = s

    def announce():
        for g, s in socks.items():
            msg = '{ "messageId":0,"id":%d, "livePort":%d,"systemType":1 }' % (g, port_of(g))
            s.sendto(msg.encode(), ("127.0.0.1", 55555))
    return announce


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK


# The terminal's small stream (sharing/ThumbnailEncoder): libx264 at these
# settings, every picture a keyframe.
SMALL_ENCODING = ["-c:v", "libx264", "-preset", "veryfast", "-tune", "zerolatency", "-pix_fmt", "yuv420p",
                  "-crf", "28", "-maxrate", "250k", "-bufsize", "250k", "-g", "1", "-bf", "0"]


def encode_small(path, seconds):
    subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    f"testsrc2=size=1920x1080:rate=1:duration={seconds}", "-vf", "scale=480:-2"]
                   + SMALL_ENCODING + [path], check=True)


def lo_bytes():
    with open("/proc/net/dev") as f:
        for line in f:
            name, _, rest = line.partition(":")
            if name.strip() == "lo":
                return int(rest.split()[0])
    return 0


def encode(path, seconds):
    subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    f"testsrc2=size=1920x1080:rate=30:duration={seconds}",
                    "-c:v", "libx264", "-preset", "veryfast", "-tune", "zerolatency", "-pix_fmt", "yuv420p",
                    "-b:v", "4M", "-maxrate", "4M", "-bufsize", "4M", "-g", "10", "-keyint_min", "10",
                    "-sc_threshold", "0", "-bf", "0", path], check=True)


def start_xvfb(size):
    """Xvfb of size "WxH" on a free display: (process, environment for its clients)."""
    n = 120
    while os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
        n += 1
    display = f":{n}"
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", f"{size}x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env = dict(os.environ, DISPLAY=display, LIBGL_ALWAYS_SOFTWARE="1")
    for _ in range(100):
        if subprocess.run(["xdpyinfo"], env=env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0:
            break
        time.sleep(0.1)
    return xvfb, env


class Console:
    def __init__(self, build, env):
        # Its classroom key goes to a folder of its own, not the user's.
        self.config = tempfile.mkdtemp()
        env = dict(env, XDG_CONFIG_HOME=self.config)
        self.proc = subprocess.Popen([os.path.join(build, "tavlo-console"), "--bind", "127.0.0.1", "--stdin",
                                      "--no-share"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env,
                                     text=True, bufsize=1)

    def ask(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        out = []
        for l in self.proc.stdout:
            l = l.rstrip("\n")
            if l.startswith("pictures "):
                out.append(l)
            if l == "end":
                return out
        raise RuntimeError("console ended")

    def pictures(self):
        counts = {}
        for l in self.ask("pictures"):
            f = l.split(" ", 4)
            counts[int(f[1])] = int(f[3])
        return counts


def measure(build, media, small, groups, seconds, env):
    # Every loopback address reaches the servers: each group's own too.
    server = subprocess.Popen([os.path.join(build, "tavlo-bench-rtsp-files"), media, "0.0.0.0",
                               str(FIRST_PORT), str(groups)] + ([small] if small else []),
                              stdout=subprocess.PIPE, text=True)
    assert server.stdout.readline().strip() == "ready"
    console = Console(build, env)
    stop = threading.Event()
    send_round = announcer(range(1, groups + 1), lambda g: FIRST_PORT + g - 1)

    def announce():
        while not stop.is_set():
            send_round()
            stop.wait(1.0)

    t = threading.Thread(target=announce, daemon=True)
    t.start()
    try:
        deadline = time.monotonic() + 120
        while True:
            counts = console.pictures()
            if len(counts) == groups and all(c > 0 for c in counts.values()):
                break
            if time.monotonic() > deadline:
                raise RuntimeError(f"not every group has a thumbnail: {counts}")
            time.sleep(0.5)
        time.sleep(2)  # past the connection set-ups
        c0, s0, p0, b0, w0 = (cpu_seconds(console.proc.pid), cpu_seconds(server.pid), console.pictures(), lo_bytes(),
                              time.monotonic())
        time.sleep(seconds)
        c1, s1, p1, b1, w1 = (cpu_seconds(console.proc.pid), cpu_seconds(server.pid), console.pictures(), lo_bytes(),
                              time.monotonic())
        wall = w1 - w0
        rates = sorted((p1[g] - p0[g]) / wall for g in p1)
        kind = "small stream" if small else "full stream "
        print(f"{groups:3d} groups, {kind}: console {(c1 - c0) / wall:.3f} CPU s/s; "
              f"inbound {(b1 - b0) * 8 / wall / groups / 1e6:.3f} Mbit/s per group; thumbnails per group per second "
              f"min {rates[0]:.2f} median {rates[len(rates) // 2]:.2f} max {rates[-1]:.2f}; "
              f"sources {(s1 - s0) / wall:.3f} CPU s/s", flush=True)
    finally:
        stop.set()
        console.proc.kill()
        server.kill()
        console.proc.wait()
        server.wait()
        subprocess.run(["rm", "-rf", console.config])


def main():
    args = sys.argv[1:]
    if not args:
        print(__doc__)
        return 2
    build = os.path.abspath(args.pop(0))
    seconds = 20
    if "--seconds" in args:
        i = args.index("--seconds")
        seconds = int(args[i + 1])
        del args[i:i + 2]
    counts = [int(a) for a in args] or [10, 30]
    if os.getuid() == 0 and not os.environ.get("TAVLO_BENCH_NS"):
        os.environ["TAVLO_BENCH_NS"] = "1"
        os.execvp("unshare", ["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "bench",
                              sys.executable, os.path.abspath(__file__), build, "--seconds", str(seconds)]
                  + [str(c) for c in counts])
    work = tempfile.mkdtemp()
    media = os.path.join(work, "1080p.mp4")
    small = os.path.join(work, "small.mp4")
    # Long enough for the set-up and the measurement of the largest count.
    encode(media, seconds + 60)
    encode_small(small, seconds + 60)
    xvfb, env = start_xvfb("1920x1080")
    try:
        print(f"load average before: {open('/proc/loadavg').read().split()[:3]}, {os.cpu_count()} cores", flush=True)
        for n in counts:
            measure(build, media, None, n, seconds, env)
            measure(build, media, small, n, seconds, env)
        print(f"load average after: {open('/proc/loadavg').read().split()[:3]}", flush=True)
    finally:
        xvfb.kill()
        xvfb.wait()
        subprocess.run(["rm", "-rf", work])
    return 0


if __name__ == "__main__":
    sys.exit(main())
