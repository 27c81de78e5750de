#!/usr/bin/env python3
"""RTSP clients that do not decode: each one sets up the stream interleaved
over TCP, plays it, and counts RTP bytes, access units (marker bit) and
keyframes (access units with an IDR slice). With --clients N, N clients
connect within the same moment (one thread each; with --burst their
connect()s are all started in one tight loop before any thread runs).

Prints one line per client after --seconds of stream (counted from its
first access unit), plus a summary line:
  client=I first_au_ms=T play_au_ms=P aus=N fps=F kbps=K keyframes=K
  clients=N first_au_ms_max=T play_au_ms_max=P fps_min=F fps_mean=F kbps_mean=K
first_au_ms is the time from connect() to the end of the first access unit
(what a client waits, the listen queue included), play_au_ms the time from
sending PLAY; fps and kbps are counted over the access units after the
first second, by arrival time."""
import argparse, re, select, socket, struct, sys, threading, time


def rtsp(sock, buf, text):
    sock.sendall(text.encode())
    while b"\r\n\r\n" not in buf[0]:
        d = sock.recv(65536)
        if not d:
            raise EOFError
        buf[0] += d
    head, _, rest = buf[0].partition(b"\r\n\r\n")
    m = re.search(rb"Content-Length:\s*(\d+)", head, re.I)
    n = int(m.group(1)) if m else 0
    while len(rest) < n:
        rest += sock.recv(65536)
    buf[0] = rest[n:]
    return head.decode("latin1")


def connect_burst(url, n):
    """n connections started in one tight loop (non-blocking connect()s,
    a few microseconds apart), as a classroom that connects at once: the
    sockets and the time each connect() began."""
    host, port = re.match(r"rtsp://([^:/]+):(\d+)", url).groups()
    started = []
    for _ in range(n):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setblocking(False)
        t = time.monotonic()
        try:
            s.connect((host, int(port)))
        except BlockingIOError:
            pass
        started.append((s, t))
    return started


def client(i, url, secs, results, start_evt, started=None):
    host, port = re.match(r"rtsp://([^:/]+):(\d+)", url).groups()
    start_evt.wait()
    r = dict(client=i, first_au_ms=-1, play_au_ms=-1, aus=0, fps=0.0, kbps=0.0, keyframes=0)
    results[i] = r
    try:
        if started:
            s, t_connect = started
            select.select([], [s], [], 60)  # connected, or failed
            s.setblocking(True)
            s.settimeout(30)
        else:
            t_connect = time.monotonic()
            s = socket.create_connection((host, int(port)), timeout=30)
        buf = [b""]
        reply = rtsp(s, buf, f"SETUP {url}/stream=0 RTSP/1.0\r\nCSeq: 1\r\n"
                     "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n")
        sess = re.search(r"Session:\s*([^;\r]+)", reply).group(1).strip()
        t_play = time.monotonic()
        s.sendall(f"PLAY {url} RTSP/1.0\r\nCSeq: 2\r\nSession: {sess}\r\n\r\n".encode())
        data = buf[0]
        key = False
        t_first = None
        n_after, bytes_after, t_count = 0, 0, None
        while True:
            now = time.monotonic()
            if t_first is not None and now - t_first > secs:
                break
            if now - t_play > secs + 30:
                break
            d = s.recv(262144)
            if not d:
                break
            data += d
            off = 0
            while True:
                if data.startswith(b"RTSP/", off):
                    e = data.find(b"\r\n\r\n", off)
                    if e < 0:
                        break
                    off = e + 4
                    continue
                if len(data) - off < 4:
                    break
                if data[off] != 0x24:
                    off += 1
                    continue
                ch, ln = data[off + 1], struct.unpack(">H", data[off + 2:off + 4])[0]
                if len(data) - off < 4 + ln:
                    break
                if ch == 0 and ln > 12:
                    p = data[off + 4:off + 4 + ln]
                    h = 12 + 4 * (p[0] & 15)
                    nt = p[h] & 31 if ln > h else 0
                    if nt == 5 or (nt == 28 and ln > h + 1 and (p[h + 1] & 0x80) and (p[h + 1] & 31) == 5):
                        key = True
                    now = time.monotonic()
                    if t_count is not None:
                        bytes_after += ln
                    if p[1] & 0x80:
                        r["aus"] += 1
                        if key:
                            r["keyframes"] += 1
                        key = False
                        if t_first is None:
                            t_first = now
                            r["first_au_ms"] = round((now - t_connect) * 1000, 1)
                            r["play_au_ms"] = round((now - t_play) * 1000, 1)
                        elif t_count is None and now - t_first >= 1.0:
                            t_count = now
                        elif t_count is not None:
                            n_after += 1
                off += 4 + ln
            data = data[off:]
        if t_count is not None:
            dt = time.monotonic() - t_count
            r["fps"] = round(n_after / dt, 1)
            r["kbps"] = round(bytes_after * 8 / dt / 1000, 0)
        s.close()
    except Exception as e:  # a failed client shows as zero counts
        r["error"] = type(e).__name__


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--url", default="rtsp://127.0.0.1:5000/cam_passby_chn0")
    ap.add_argument("--clients", type=int, default=1)
    ap.add_argument("--seconds", type=float, default=10)
    ap.add_argument("--label", default="")
    ap.add_argument("--quiet", action="store_true", help="summary only")
    ap.add_argument("--burst", action="store_true", help="all connect()s in one tight loop first")
    a = ap.parse_args()
    results = [None] * a.clients
    go = threading.Event()
    started = connect_burst(a.url, a.clients) if a.burst else [None] * a.clients
    ts = [threading.Thread(target=client, args=(i, a.url, a.seconds, results, go, started[i]))
          for i in range(a.clients)]
    for t in ts:
        t.start()
    go.set()
    for t in ts:
        t.join()
    pre = (a.label + " ") if a.label else ""
    if not a.quiet:
        for r in results:
            print(pre + " ".join(f"{k}={v}" for k, v in r.items()))
    firsts = [r["first_au_ms"] for r in results]
    plays = [r["play_au_ms"] for r in results]
    fps = [r["fps"] for r in results]
    kb = [r["kbps"] for r in results]
    print(f"{pre}clients={a.clients} first_au_ms_max={max(firsts)} play_au_ms_max={max(plays)} fps_min={min(fps)} "
          f"fps_mean={sum(fps) / len(fps):.1f} kbps_mean={sum(kb) / len(kb):.0f} "
          f"keyframes_total={sum(r['keyframes'] for r in results)}")
    sys.stdout.flush()


if __name__ == "__main__":
    main()
