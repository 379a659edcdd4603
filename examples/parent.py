#!/usr/bin/env python3
"""A parent application for pv7host, written from docs/protocol.md alone.

It listens on 127.0.0.1, starts the host, sizes the view, loads a page, waits for
the page's console text "ready", clicks its button, answers the page's bridge
call, waits for the page to print the reply and for a frame, writes the last frame as PNG and
ends the host with <Destroy/>. Standard library only.

    python3 parent.py --host /usr/bin/pv7host --png last.png

Events are printed on standard output, errors on standard error. Exit status 0
when everything above happened and the host ended with status 0, else 1.
"""

import argparse
import os
import queue
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

# A page with one button; clicking it calls the parent through the bridge and
# prints the reply on the console.
PAGE = """<!DOCTYPE html><html><body style="margin:0;background:#fff">
<button id="b" style="position:absolute;left:0;top:0;width:300px;height:120px"
 onclick="console.log('reply: ' + PV7APIv1.CallPV7XML('<Ask n=&quot;1&quot;/>'))">Ask</button>
<script>console.log('ready')</script></body></html>"""


def data_url(html):
    from urllib.parse import quote
    return "data:text/html," + quote(html)


# --- framing: a 4-byte big-endian signed length, then the payload -------------

def read_exact(sock, n):
    data = bytearray()
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise EOFError("connection closed")
        data += chunk
    return bytes(data)


def read_message(sock):
    (length,) = struct.unpack(">i", read_exact(sock, 4))
    if length < 0:
        raise ValueError("negative length from the host")
    return read_exact(sock, length)


def write_message(sock, payload):
    sock.sendall(struct.pack(">i", len(payload)) + payload)


# --- BMP frame to PNG ----------------------------------------------------------

def bmp_to_png(bmp):
    if len(bmp) < 54 or bmp[:2] != b"BM":
        raise ValueError("not a BMP frame")
    width, height = struct.unpack("<ii", bmp[18:26])
    bits, = struct.unpack("<H", bmp[28:30])
    if bits != 24 or width <= 0 or height <= 0:
        raise ValueError("unexpected BMP layout")
    row_size = (width * 3 + 3) & ~3
    rows = []
    for y in range(height):  # bottom-up rows, blue-green-red pixels
        start = 54 + (height - 1 - y) * row_size
        bgr = bmp[start:start + width * 3]
        rgb = bytearray(len(bgr))
        rgb[0::3], rgb[1::3], rgb[2::3] = bgr[2::3], bgr[1::3], bgr[0::3]
        rows.append(b"\x00" + bytes(rgb))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + chunk(b"IEND", b""))


# --- the parent ----------------------------------------------------------------

def xml_text(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


class Parent:
    def __init__(self, reply):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        self.reply = reply
        self.events = queue.Queue()   # ("actn", sock), ("console", text), ("bridge", request)
        self.lock = threading.Lock()  # guards last_frame, frames, printing
        self.last_frame = None
        self.frames = 0
        self.frame_came = threading.Event()  # set at the first frame
        self.stopping = False

    def say(self, line):
        with self.lock:
            print(line, flush=True)

    def accept_loop(self):
        self.listener.settimeout(0.2)
        while not self.stopping:
            try:
                sock, _ = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            sock.settimeout(None)
            threading.Thread(target=self.serve, args=(sock,), daemon=True).start()

    def serve(self, sock):
        first = b""
        try:
            first = read_message(sock)
            if first == b"ACTN":
                self.say("connection ACTN")
                self.events.put(("actn", sock))
                return  # commands are written by the main thread
            if first == b"DRAW":
                self.say("connection DRAW")
                self.serve_draw(sock)
            elif first == b"INTF":
                self.say("connection INTF")
                self.serve_intf(sock)
            elif first.startswith(b"CMSG"):
                text = first[4:].decode("cp1252", "replace")
                self.say("console " + text)
                self.events.put(("console", text))
            else:
                print("note: unknown tag", first[:4], file=sys.stderr)
        except (EOFError, OSError):
            pass  # the connection ended
        if first != b"ACTN":
            sock.close()

    def serve_draw(self, sock):
        while True:
            bmp = read_message(sock)
            width, height = struct.unpack("<ii", bmp[18:26])
            with self.lock:
                self.frames += 1
                self.last_frame = bmp
                if self.frames == 1:
                    print("frame 1 %dx%d" % (width, height), flush=True)
            self.frame_came.set()

    def serve_intf(self, sock):
        while True:
            request = read_message(sock)
            self.say("intf request " + request.decode("cp1252", "replace"))
            self.events.put(("bridge", request))
            write_message(sock, self.reply)

    def wait_for(self, kind, timeout, text=None):
        """The payload of the next event of this kind (and text), or None."""
        end = time.monotonic() + timeout
        while True:
            left = end - time.monotonic()
            if left <= 0:
                return None
            try:
                got, payload = self.events.get(timeout=left)
            except queue.Empty:
                return None
            if got == kind and (text is None or payload == text or
                                (isinstance(payload, str) and payload.startswith(text))):
                return payload


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--host", default="pv7host", help="the host executable (default: pv7host on the PATH)")
    ap.add_argument("--url", default=data_url(PAGE), help="the page to load (default: a bridge test page)")
    ap.add_argument("--png", default="last-frame.png", help="where the last frame is written")
    ap.add_argument("--reply", default="<Reply>ok</Reply>", help="the answer to every bridge call")
    ap.add_argument("--timeout", type=float, default=30.0, help="seconds for each step")
    args = ap.parse_args()

    parent = Parent(args.reply.encode("cp1252"))
    workdir = tempfile.mkdtemp(prefix="pv7parent-py-")  # the host's cache and userdata
    host = subprocess.Popen([args.host, "-drawPort=%d" % parent.port,
                             "-parentID=%d" % os.getpid(), "-showSelf=0"],
                            cwd=workdir, start_new_session=True)
    parent.say("host started (pid %d)" % host.pid)
    threading.Thread(target=parent.accept_loop, daemon=True).start()

    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)
            print("error: " + what, file=sys.stderr)
        return ok

    actn = parent.wait_for("actn", args.timeout)
    if check(actn is not None, "the host never connected"):
        def send(document):
            parent.say("command " + document)
            write_message(actn, document.encode("cp1252"))

        send("<WindowSize><WndSzX>640</WndSzX><WndSzY>480</WndSzY></WindowSize>")
        send("<LoadWEBURL><WEBURL>%s</WEBURL><HEADERS>X-Parent=python</HEADERS></LoadWEBURL>"
             % xml_text(args.url))
        if check(parent.wait_for("console", args.timeout, "ready") is not None,
                 "the page never said ready"):
            send("<MouseClick><MouseX>150</MouseX><MouseY>60</MouseY></MouseClick>")
            check(parent.wait_for("bridge", args.timeout) is not None, "no bridge call came")
            check(parent.wait_for("console", args.timeout,
                                  "reply: " + args.reply) is not None,
                  "the page did not get the reply")
            # Frames come on their own connection at their own pace: wait for one,
            # then a little longer for the repaint after the click.
            check(parent.frame_came.wait(args.timeout), "no frame came")
            time.sleep(0.5)
        send("<Destroy/>")

    try:
        status = host.wait(timeout=args.timeout)
    except subprocess.TimeoutExpired:
        check(False, "the host did not end; killing it")
        os.killpg(host.pid, 9)
        status = host.wait()
    parent.say("host exited with status %d" % status)
    check(status == 0, "the host ended with status %d" % status)
    parent.stopping = True
    shutil.rmtree(workdir, ignore_errors=True)

    with parent.lock:
        bmp, frames = parent.last_frame, parent.frames
    if check(bmp is not None, "no frame arrived"):
        with open(args.png, "wb") as out:
            out.write(bmp_to_png(bmp))
        parent.say("snapshot written to %s (%d frames)" % (args.png, frames))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
