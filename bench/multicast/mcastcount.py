#!/usr/bin/env python3
"""Multicast RTSP clients that do not decode: each one sets up the stream
with "Transport: RTP/AVP;multicast" (keeping its RTSP connection open, as a
player does), joins the group and port the server names, plays, and counts
RTP bytes, access units (marker bit) and keyframes (access units with an IDR
slice) from its own socket. Every client of a machine gets its own copy of
each packet from the kernel; the network carries one.

Prints one line per client after --seconds of stream (counted from its
first access unit), then a summary line:
  client=I play_au_ms=P play_key_ms=K aus=N fps=F kbps=K keyframes=K
  clients=N play_au_ms_max=P play_key_ms_max=K fps_min=F fps_mean=F kbps_mean=K
play_au_ms is the time from sending PLAY to the end of the first access
unit, play_key_ms to the end of the first keyframe (the first picture a
decoder can show); fps and kbps are counted over the access units after the
first second, by arrival time."""
import argparse, re, socket, struct, sys, threading, time


def rtsp(sock, text):
    sock.sendall(text.encode())
    buf = b""
    while b"\r\n\r\n" not in buf:
        d = sock.recv(65536)
        if not d:
            raise EOFError
        buf += d
    return buf.decode("latin1")


def client(i, url, secs, results, start_evt):
    host, port = re.match(r"rtsp://([^:/]+):(\d+)", url).groups()
    start_evt.wait()
    r = dict(client=i, play_au_ms=-1, play_key_ms=-1, aus=0, fps=0.0, kbps=0.0, keyframes=0)
    results[i] = r
    try:
        s = socket.create_connection((host, int(port)), timeout=30)
        reply = rtsp(s, f"SETUP {url}/stream=0 RTSP/1.0\r\nCSeq: 1\r\nTransport: RTP/AVP;multicast\r\n\r\n")
        sess = re.search(r"Session:\s*([^;\r]+)", reply).group(1).strip()
        group = re.search(r"destination=([0-9.]+)", reply).group(1)
        rtp_port = int(re.search(r"port=(\d+)", reply).group(1))
        u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        u.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        u.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
        u.bind((group, rtp_port))
        u.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                     struct.pack("4s4s", socket.inet_aton(group), socket.inet_aton("0.0.0.0")))
        u.settimeout(1.0)
        t_play = time.monotonic()
        rtsp(s, f"PLAY {url} RTSP/1.0\r\nCSeq: 2\r\nSession: {sess}\r\n\r\n")
        key = False
        t_first = None
        n_after, bytes_after, t_count = 0, 0, None
        while True:
            now = time.monotonic()
            if t_first is not None and now - t_first > secs:
                break
            if now - t_play > secs + 30:
                break
            try:
                p = u.recv(65536)
            except socket.timeout:
                continue
            ln = len(p)
            if ln <= 12:
                continue
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
                    if r["play_key_ms"] < 0:
                        r["play_key_ms"] = round((now - t_play) * 1000, 1)
                key = False
                if t_first is None:
                    t_first = now
                    r["play_au_ms"] = round((now - t_play) * 1000, 1)
                elif t_count is None and now - t_first >= 1.0:
                    t_count = now
                elif t_count is not None:
                    n_after += 1
        if t_count is not None:
            dt = time.monotonic() - t_count
            r["fps"] = round(n_after / dt, 1)
            r["kbps"] = round(bytes_after * 8 / dt / 1000, 0)
        s.sendall(f"TEARDOWN {url} RTSP/1.0\r\nCSeq: 3\r\nSession: {sess}\r\n\r\n".encode())
        s.close()
        u.close()
    except Exception as e:  # a failed client shows as zero counts
        r["error"] = type(e).__name__


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--url", required=True)
    ap.add_argument("--clients", type=int, default=1)
    ap.add_argument("--seconds", type=float, default=10)
    ap.add_argument("--label", default="")
    ap.add_argument("--quiet", action="store_true", help="summary only")
    a = ap.parse_args()
    results = [None] * a.clients
    go = threading.Event()
    ts = [threading.Thread(target=client, args=(i, a.url, a.seconds, results, go)) for i in range(a.clients)]
    for t in ts:
        t.start()
    go.set()
    for t in ts:
        t.join()
    pre = (a.label + " ") if a.label else ""
    if not a.quiet:
        for r in results:
            print(pre + " ".join(f"{k}={v}" for k, v in r.items()))
    fps = [r["fps"] for r in results]
    kb = [r["kbps"] for r in results]
    print(f"{pre}clients={a.clients} play_au_ms_max={max(r['play_au_ms'] for r in results)} "
          f"play_key_ms_max={max(r['play_key_ms'] for r in results)} fps_min={min(fps)} "
          f"fps_mean={sum(fps) / len(fps):.1f} kbps_mean={sum(kb) / len(kb):.0f} "
          f"errors={sum(1 for r in results if 'error' in r)}")
    sys.stdout.flush()


if __name__ == "__main__":
    main()
