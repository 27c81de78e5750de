#!/usr/bin/env python3
"""A screenshot of the console from a real run on Xvfb.

    bench/console/screenshot.py <build dir> <output.png> [LANG]

Eight groups announce themselves on loopback, each from an address of its
own, with streams of a pre-encoded test picture (tavlo-bench-rtsp-files);
group 3 is announced from a second address too (a conflict: that address is
never pulled nor commanded); groups 1 to 7 except 2 are told to show group 2,
groups 2 and 5 are named and group 6 is locked. Once every served group has
a thumbnail, the console's window is captured (ImageMagick import). LANG
(e.g. zh_CN.UTF-8) is the console's language; default English.
Runs in a private network namespace (only loopback) when started as root.
"""
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import thumbs  # noqa: E402

GROUPS = 8


def main():
    if len(sys.argv) not in (3, 4):
        print(__doc__)
        return 2
    build, out = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    if os.getuid() == 0 and not os.environ.get("TAVLO_BENCH_NS"):
        os.environ["TAVLO_BENCH_NS"] = "1"
        os.execvp("unshare", ["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "shot",
                              sys.executable, os.path.abspath(__file__), build, out] + sys.argv[3:])
    work = tempfile.mkdtemp()
    media = os.path.join(work, "1080p.mp4")
    thumbs.encode(media, 60)
    xvfb, env = thumbs.start_xvfb("1260x780")
    env = dict(env, LANG=sys.argv[3] if len(sys.argv) == 4 else "C")
    env.pop("LANGUAGE", None)
    env.pop("LC_ALL", None)
    procs = [xvfb]
    stop = threading.Event()
    console = None
    try:
        server = subprocess.Popen([os.path.join(build, "tavlo-bench-rtsp-files"), media, "0.0.0.0",
                                   str(thumbs.FIRST_PORT), str(GROUPS)], stdout=subprocess.PIPE, text=True)
        procs.append(server)
        assert server.stdout.readline().strip() == "ready"
        console = thumbs.Console(build, env)
        procs.append(console.proc)

        send_round = thumbs.announcer(range(1, GROUPS + 1), lambda g: thumbs.FIRST_PORT + g - 1)

        def announce():
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            s.bind(("127.0.0.2", 0))
            while not stop.is_set():
                send_round()
                s.sendto(b'{ "messageId":0,"id":3, "livePort":5999,"systemType":1 }', ("127.0.0.1", 55555))
                stop.wait(1.0)

        threading.Thread(target=announce, daemon=True).start()
        deadline = time.monotonic() + 120
        while True:
            # One line per group (the conflicting address has none).
            counts = [int(l.split(" ", 4)[3]) for l in console.ask("pictures")]
            if sum(1 for c in counts if c > 0) >= GROUPS:
                break
            if time.monotonic() > deadline:
                raise RuntimeError(f"not every group has a thumbnail: {counts}")
            time.sleep(0.5)
        for line in ["show 2 to all", "name 2 Window table", "name 5 Back row", "lock 6"]:
            console.proc.stdin.write(line + "\n")
        console.proc.stdin.flush()
        time.sleep(2)
        subprocess.run(["import", "-window", "root", out], env=env, check=True)
        print(f"wrote {out}")
    finally:
        stop.set()
        for p in reversed(procs):
            p.kill()
            p.wait()
        subprocess.run(["rm", "-rf", work] + ([console.config] if console else []))
    return 0


if __name__ == "__main__":
    sys.exit(main())
