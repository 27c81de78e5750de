#!/usr/bin/env python3
"""Reads 1024x64 8-bit grey frames (the clock pattern corner) from stdin until
EOF or --seconds have passed after --skip; prints frames per second and the
capture-to-client latency as one line of key=value pairs."""
import argparse, sys, time

W, H, BLOCK, COLS = 1024, 64, 32, 32


def check(ms, seq):
    h = ((ms * 2654435761) & 0xffffffff) ^ (((seq + 0x9e3779b9) * 40503) & 0xffffffff)
    h ^= h >> 15
    return h & 0xffff


def read(fr):
    bits, clear = 0, True
    for i in range(64):
        x0 = (i % COLS) * BLOCK + 8
        y0 = (i // COLS) * BLOCK + 8
        s = 0
        for y in range(y0, y0 + 16, 4):
            row = y * W
            for x in range(x0, x0 + 16, 4):
                s += fr[row + x]
        s //= 16
        if 64 < s < 192:
            clear = False
        if s >= 128:
            bits |= 1 << i
    ms, seq, chk = bits & 0xffffffff, (bits >> 32) & 0xffff, bits >> 48
    return ms, seq, clear and chk == check(ms, seq)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--skip", type=float, default=2.0)
    ap.add_argument("--seconds", type=float, default=10.0)
    ap.add_argument("--label", default="client")
    a = ap.parse_args()
    start = time.time()
    frames = valid = 0
    lats, seqs = [], set()
    t_first = t_last = None
    while True:
        fr = sys.stdin.buffer.read(W * H)
        if len(fr) < W * H:
            break
        now = time.time()
        if now - start < a.skip:
            continue
        if now - start > a.skip + a.seconds:
            break
        frames += 1
        ms, seq, ok = read(fr)
        if not ok:
            continue
        valid += 1
        seqs.add(seq)
        lat = ((int(now * 1000) & 0xffffffff) - ms) & 0xffffffff
        if lat < 60000:
            lats.append(lat)
        t_first = now if t_first is None else t_first
        t_last = now
    lats.sort()
    span = (t_last - t_first) if t_first and t_last and t_last > t_first else 0
    fps = (valid - 1) / span if span else 0
    med = lats[len(lats) // 2] if lats else -1
    p90 = lats[int(len(lats) * 0.9)] if lats else -1
    print(f"{a.label}: frames={frames} valid={valid} distinct={len(seqs)} fps={fps:.1f} "
          f"latency_median_ms={med} latency_p90_ms={p90}", flush=True)


if __name__ == "__main__":
    main()
